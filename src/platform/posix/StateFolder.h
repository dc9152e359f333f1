// Where this user's tracker state lives on Linux: the identity file's folder, which also holds the
// outbox.
#pragma once

#include <string>

namespace ORBA {
namespace Platform {

// identityFolder() of this process's $XDG_STATE_HOME and home folder (from $HOME, else the user
// database); empty when neither gives an absolute path.
std::string stateFolder();

// Creates `path` and its missing parents, each private to the user (stored values and requests
// carry device ids and signatures). Returns 0 or an errno.
int makeStateFolders(const std::string& path);

}  // namespace Platform
}  // namespace ORBA
