#include "lock_holder.h"

#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace lumivox::wave {

namespace {

    // This process, or a process whose name is one of the two programs. The name is read from
    // /proc/PID/comm, which every user may read, unlike another user's /proc/PID/exe.
    bool isLumivox(long processId)
    {
        if (processId == static_cast<long>(::getpid()))
            return true;
        std::ifstream commandFile("/proc/" + std::to_string(processId) + "/comm");
        std::string command;
        std::getline(commandFile, command);
        return command == "lumivox" || command == "lumivox-cli";
    }

    // "08:02:1234567": the device's major and minor numbers in hex, then the inode in decimal.
    bool namesFile(const std::string& field, const struct stat& status)
    {
        unsigned int deviceMajor = 0;
        unsigned int deviceMinor = 0;
        unsigned long long inode = 0;
        char colon1 = 0;
        char colon2 = 0;
        std::istringstream text(field);
        text >> std::hex >> deviceMajor >> colon1 >> deviceMinor >> colon2 >> std::dec >> inode;
        return !text.fail() && colon1 == ':' && colon2 == ':' && deviceMajor == major(status.st_dev)
            && deviceMinor == minor(status.st_dev) && inode == status.st_ino;
    }

} // namespace

LockHolder findLockHolder(int descriptor)
{
    struct stat status { };
    if (::fstat(descriptor, &status) != 0)
        return LockHolder::Unknown;
    std::ifstream table("/proc/locks");
    LockHolder found = LockHolder::Unknown;
    std::string line;
    // "1: FLOCK  ADVISORY  WRITE 4242 08:02:1234567 0 EOF"; a waiter's line has "->" after the
    // number and holds nothing.
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, file;
        long processId = 0;
        if (!(fields >> number >> kind) || kind != "FLOCK")
            continue;
        if (!(fields >> mode >> access >> processId >> file) || !namesFile(file, status))
            continue;
        if (!isLumivox(processId)) {
            if (found == LockHolder::Unknown)
                found = LockHolder::OtherProgram;
        } else if (access == "WRITE") {
            return LockHolder::LumivoxWriter;
        } else {
            found = LockHolder::LumivoxReader;
        }
    }
    return found;
}

} // namespace lumivox::wave
