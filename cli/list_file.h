// The list file: a text file naming one input data file per line.
#ifndef HARNIX_CLI_LIST_FILE_H_
#define HARNIX_CLI_LIST_FILE_H_

#include <cstddef>
#include <string>

#include "averaging/settings.h"

namespace harnix {

// Removes leading and trailing blanks (space, tab, line feed) from `text` in place and returns the
// number of characters removed. Blanks inside the text stay.
std::size_t trim_blanks(std::string& text);

// Appends the names listed in file `name` to `list`, in file order. Each line, of any length, is
// cut at its first carriage return, then trimmed of blanks; a line left empty is skipped and any
// other is one name, taken as it stands (no quoting). Returns true when at least one name was
// added. Otherwise returns false after printing the error: "Cannot access list file" when the file
// cannot be opened or read (a directory, for one), "Empty list file" when it names nothing, "More
// than 10000 input filenames" when `list` would exceed MAX_INPUT_FILES. On failure `list` may
// already hold some of the file's names. The file is opened by its UTF-8 name (base/platform.h).
// A byte-order mark is honoured as below, on every system.
bool read_list_file(const char* name, InputList* list);

// As above, honouring a byte-order mark at the start when `marks`: UTF-8's is skipped; after
// UTF-16's (either byte order) the lines are UTF-16, ended by the unit U+000A, and each is
// converted to UTF-8 (ending at a zero unit) before it is cut and trimmed. A line that cannot be
// converted (an unpaired surrogate, an odd last byte) makes the file "Cannot access list file".
bool read_list_file(const char* name, InputList* list, bool marks);

}  // namespace harnix

#endif  // HARNIX_CLI_LIST_FILE_H_
