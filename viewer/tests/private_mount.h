// A file system mounted on a test's folder in this process's own mount
// namespace, unseen outside it: a full disk or a read-only folder on demand.
#pragma once
#include <string>

#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#endif

namespace tq::viewer::test {

// Mounts a file system of the given type and options on the folder; without a
// type, the folder on itself again with flags (MS_RDONLY). False where the
// test may not (not root, not Linux). *mounted tells whether the folder must
// be unmounted afterwards, which a failed remount also leaves owed.
inline bool MountPrivately(const std::string& folder, const char* type, unsigned long flags, const char* options,
                           bool* mounted) {
#ifndef _WIN32
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    if (type) return (*mounted = mount(type, folder.c_str(), type, flags, options) == 0);
    if (mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
    *mounted = true;
    return mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | flags, nullptr) == 0;
#else
    (void)folder, (void)type, (void)flags, (void)options, (void)mounted;
    return false;
#endif
}

}  // namespace tq::viewer::test
