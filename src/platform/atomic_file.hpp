// The one way the program writes a file.  The new content goes into a
// temporary file beside the target, is flushed to the disk and then renamed
// over the target, so a failed or interrupted save never leaves a truncated
// or half-written file where the old one was.
//
// Rules every save follows:
//  - a target that exists and is not a regular file (a folder, a device such
//    as /dev/null or /dev/stdout, a pipe, a socket) is refused;
//  - a symbolic link is followed: the file it points to is replaced and the
//    link stays a link;
//  - a target the user may not write to is refused, as a plain write would be;
//  - an existing file keeps its permission bits (and, where allowed, its
//    owner); a new file gets the permissions the umask allows;
//  - a file with several hard links is replaced under the name saved to only;
//    the other names keep the old content, and the caller gets a warning;
//  - the file is synced before the rename and its folder after it;
//  - the message of a failure names the file and the system's own reason
//    (a full disk reads "No space left on device");
//  - the temporary file is removed when the process is ended by SIGINT,
//    SIGTERM or SIGHUP during the save; SIGXFSZ is ignored while saving, so
//    going over the file-size limit is an error ("File too large"), not the
//    end of the program.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace quillan {

// Receives a warning about a save that succeeded but may surprise the user.
using SaveWarningFn = std::function<void(const std::string& warning)>;

// Writes `content` to `path` by the rules above.  Throws QuillanError with a
// message naming the file when nothing could be saved; the old file, if any,
// is then unchanged.  Warnings go to the handler set with
// set_save_warning_handler (standard error unless a front end set one).
void write_file_atomically(const std::string& path, std::string_view content);
// The same, with the warnings given to `warn` instead.
void write_file_atomically(const std::string& path, std::string_view content, const SaveWarningFn& warn);

// Sets where the warnings of saves without their own handler go; returns the
// handler it replaces.  An empty handler restores the default.
SaveWarningFn set_save_warning_handler(SaveWarningFn handler);

namespace save_testing {
// Called once the temporary file exists and before any content is written;
// lets tests interrupt a save at that point.  Not for use by the program.
void set_after_temp_created(std::function<void(const std::string& temp_path)> hook);
}  // namespace save_testing

}  // namespace quillan
