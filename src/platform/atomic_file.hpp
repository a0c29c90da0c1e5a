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
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillan {

struct Target;

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

// Several saves that succeed or fail together: the files of one conversion,
// or the report, exports and pictures of one run.  A set is a value that the
// run fills and its front end commits: write() checks a target by the rules
// above and writes the new content to a temporary file beside it, but
// replaces nothing.  commit() then renames every temporary file over its
// target; should one rename fail, the files already replaced get their old
// content back.  A set destroyed without a commit removes its temporary
// files, so no target changes.  Saves made with write_file_atomically while
// a set exists are not part of it: they are put in place at once.
class SaveSet {
public:
    SaveSet();
    ~SaveSet();
    SaveSet(const SaveSet&) = delete;
    SaveSet& operator=(const SaveSet&) = delete;

    // A member of the set that this time has no content: an existing file
    // of that name is removed at the commit, so no stale member stays
    // beside the new ones.  Throws QuillanError when it could not be.
    void remove_at_commit(const std::string& path);
    // Stages `content` for `path`.  Throws QuillanError naming the file when
    // the target cannot be written, as a single save does.
    void write(const std::string& path, std::string_view content);
    // Puts every file in place; returns the paths saved or removed.  Throws
    // QuillanError naming the file when the set could not be saved; the old
    // files are then as they were.
    std::vector<std::string> commit(const SaveWarningFn& warn = {});
    // Drops every staged save (the destructor does it too).
    void discard();
    // A folder this set made for its files (see make_folders_for_saves):
    // removed when the set ends, deepest first, if no file is left in it.
    void made_folder(const std::string& path);

private:
    struct Member;
    struct Guard;
    std::vector<Member> members_;
    std::vector<std::string> made_folders_;  // in the order they were made
    std::unique_ptr<Guard> guard_;
    void undo(std::size_t done);
};

// Makes the folder `path` and the folders above it that are missing, for
// saves into it.  The folders made join `set`, when one is given: one that
// holds no file when the set ends (dropped after a failure or a stop, or
// committed with nothing drawn into it) is removed again, so a run that
// writes nothing there leaves no empty folder behind.  Returns false, with
// the reason in `error`, when a folder could not be made.
bool make_folders_for_saves(const std::string& path, std::string& error, SaveSet* set = nullptr);

namespace save_testing {
// Called once the temporary file exists and before any content is written;
// lets tests interrupt a save at that point.  Not for use by the program.
void set_after_temp_created(std::function<void(const std::string& temp_path)> hook);
}  // namespace save_testing

}  // namespace quillan
