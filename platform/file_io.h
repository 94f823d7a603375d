// Files used through an open handle, replacing a file's contents safely, and the
// fault seam that lets a test fail any one of these operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace mf::platform {

// Every operation below that reaches the system is one of these kinds.
enum class file_op { open, read, write, sync, rename, close };

// A test's fault hook: called before each file operation, in order; returning a
// system error number (see files.h) makes that operation fail with it, as the
// system would, without the system call; 0 lets it proceed. Process-wide;
// nullptr (the default) fails nothing. Any thread may call the operations; the
// hook itself must then be thread-safe.
using file_fault_hook = int (*)(file_op op);
void set_file_fault_hook(file_fault_hook hook);
// True when the hook fails this operation (the system error number is then set).
bool file_fault(file_op op);

// An open file, owned: closed by close() or, ignoring errors, by the destructor.
class file_handle {
public:
    file_handle() = default;
    ~file_handle();
    file_handle(file_handle&& other) noexcept;
    file_handle& operator=(file_handle&& other) noexcept;
    file_handle(const file_handle&) = delete;
    file_handle& operator=(const file_handle&) = delete;

    // Opens an existing file for reading. Refuses anything but a regular file
    // (a directory, device or FIFO gives an invalid handle).
    static file_handle open_regular_for_reading(const std::string& path);
    // Creates a new file with a unique name beginning with prefix in directory,
    // exclusively, readable and writable by the owner only; its path goes to *path.
    static file_handle create_unique(const std::string& directory, const std::string& prefix, std::string* path);

    bool valid() const { return handle_ != invalid; }
    // Reads up to size bytes; *got is 0 at the end of the file. False on failure.
    bool read(void* data, size_t size, size_t* got);
    // Writes all size bytes. False on failure.
    bool write(const void* data, size_t size);
    // Writes text, ending lines as text files on this system do (CR LF on Windows).
    bool write_text(const char* text, size_t size);
    // Sets disk space aside for the next size bytes to be written, without
    // changing the file's length, so that the writes need not find it a block at
    // a time. Only a hint: false (a device, a pipe, a file system or system
    // without it) changes nothing, and the writes work as ever.
    bool reserve_ahead(uint64_t size);
    // Makes the written data durable on the storage device.
    bool sync();
    // Closes the handle; false when the system reports a failure (for example
    // data that could not be written back). The handle is invalid afterwards.
    bool close();

    // True when the handle and the named file are the same file (after links).
    bool same_file_as(const std::string& path) const;

    // The system's handle (descriptor or HANDLE), for the platform's own use.
    intptr_t native() const { return handle_; }
    static constexpr intptr_t invalid = -1;
    explicit file_handle(intptr_t handle) : handle_(handle) {}

private:
    intptr_t handle_ = invalid;
};

// Where replace_contents failed, if it did.
enum class replace_stage {
    none,     // the new contents are in place
    open,     // nothing could be opened or created for the name; the name is untouched
    produce,  // the producer returned non-zero; a replaced file is untouched
    commit,   // the data could not be made durable or renamed into place
};

struct replace_result {
    replace_stage failed = replace_stage::none;
    int produce_status = 0;  // what the producer returned
    int system_error = 0;    // the system's error number at the failure
    bool in_place = false;   // written into the existing file rather than renamed over it
};

// Writes the new contents into the file it is given; returns 0 to keep them or
// a non-zero status of its own to abandon them.
using content_producer = std::function<int(file_handle& out)>;

// Asked before a file is written in place (see below), where a producer that
// fails part way would leave the file cut short: a non-zero result (the caller's
// own status) abandons the replacement at stage produce before anything is opened.
using in_place_check = std::function<int()>;

// Replaces the contents of what the name designates, the only way whole files are
// rewritten:
// - symbolic links are followed; the link stays a link and its final target gets
//   the contents (a dangling link creates its target);
// - a new name, or an existing regular file with a single link, is written into a
//   new file beside the final target, synced, and renamed over it, so a failure
//   leaves the old contents untouched and no temporary file behind; the new file
//   takes the old file's permission bits (and owner and group where the process
//   may set them), or for a new name what the system gives a newly created file;
// - a device, FIFO or file with other hard links is opened and written in place
//   (created or truncated as an ordinary open for writing would), as is an existing
//   writable file in a folder where no new file can be made; before_in_place,
//   when given, is asked first.
// Only a replacement of an existing file is made durable before the rename (its
// data synced, then the folder): that is what keeps the old contents safe from a
// crash part way. A new name is renamed into place unsynced, like any file a
// program creates, so it holds nothing or the complete contents after any failure
// the program can see.
// A directory cannot be replaced (stage open).
replace_result replace_contents(const std::string& path, const content_producer& produce,
                                const in_place_check& before_in_place = {});
replace_result replace_contents(const std::u16string& path, const content_producer& produce,
                                const in_place_check& before_in_place = {});

}  // namespace mf::platform
