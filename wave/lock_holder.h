#pragma once

namespace lumivox::wave {

// Who holds the flock(2) lock that kept an open file from being locked, as the system's lock
// table (/proc/locks) tells it.
enum class LockHolder {
    Unknown, // no holder listed (it let go meanwhile, or the table cannot be read)
    LumivoxWriter, // a Lumivox run, exclusively: it writes the file
    LumivoxReader, // a Lumivox run, shared: it reads the file
    OtherProgram,
};

// The holder of a lock on the file open on the descriptor; a Lumivox run that writes it is named
// before one that reads it, and either before another program.
[[nodiscard]] LockHolder findLockHolder(int descriptor);

} // namespace lumivox::wave
