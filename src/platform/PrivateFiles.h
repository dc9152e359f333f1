// The files and folders the library keeps for a player: install ids, launch counters and stored
// requests (device ids, signatures, URLs). Every one of them is private to the user whatever the
// process's umask, and a folder of the library's own found open to others is closed again. The
// identity store and the outbox both go through here, so that this holds in one place.
#pragma once

#include <cstddef>
#include <string>

namespace ORBA {
namespace Platform {

// The folder that holds everything the library keeps for this user, as UTF-8: "orba" under
// $XDG_STATE_HOME, else under ~/.local/state, on Linux; %LOCALAPPDATA%\ORBA\Tracker on Windows.
// Empty when the system names no such place.
std::string stateFolder();

// Creates `path` (UTF-8) and its missing parents, private to the user where the system has such a
// notion. A folder at or below stateFolder() that others may enter is made private again; folders
// above it belong to the user and are left as they are. True when the folder exists afterwards.
bool makePrivateFolders(const std::string& path);

enum class FileRead { Read, Gone, TooLarge, Failed };

// Reads the whole file at `path` (UTF-8) into `bytes` when it holds at most `maxBytes`. Gone when
// no file has that name (another process's sender may have removed it since it was listed);
// Failed when it is no plain file or cannot be opened or read. Never waits for a writer, as a FIFO
// would make it. While it is open, other processes may still remove or rename it: a reader must
// not keep the sender of another process from removing what it delivered.
FileRead readWholeFile(const std::string& path, std::size_t maxBytes, std::string& bytes);

// Writes `bytes` as the whole content of the file at `path` (UTF-8), made when absent, readable
// and writable by the user alone. A link at `path` is not followed. False when any of it failed;
// the file may then hold part of the bytes.
bool writePrivateFile(const std::string& path, const std::string& bytes);

}  // namespace Platform
}  // namespace ORBA
