// How paths and the arguments that carry them are written on this system.
#pragma once

namespace platform {

// The separator that the walk appends to directory paths and prints.
extern const char kSeparator;
// Bytes that, as the last character of a start path, already end a directory
// prefix to which a name can be appended.
extern const char kPathEnders[];

// The bytes that make an argument an option argument. Where "/" starts
// absolute paths it cannot also start options.
extern const char kOptionPrefixes[];

// True when `c` starts a double-byte character in the text the walk handles.
bool IsLeadByte(unsigned char c);


// True where names that differ only in the case of their letters name the
// same file, so that kinds of files by extension are told apart in any case.
extern const bool kNamesIgnoreCase;

}  // namespace platform
