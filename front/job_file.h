// Saved transfers: a JobDescription as a JSON job file, and back. The file names the
// kinds by their command-line names and holds every field of both ends and every
// option, but never a password: an end names the environment variable that holds it.
//
//   {
//     "trundle_job": 1,
//     "source": {"kind": "csv", "file": "in.csv"},
//     "destination": {"kind": "sqlite", "database": "out.sqlite", "table": "people"},
//     "if_exists": "append"
//   }
//
// A key left out takes the value a new JobDescription has.
#pragma once

#include <string>

#include "engine/errors.h"
#include "front/job_description.h"

namespace trundle {

// The version this build writes; a file of a later one is refused.
constexpr int kJobFileVersion = 1;

// The job file's text for `description`, every key written. The passwords are left out
// (only password_env is written). Throws TrundleError when a kind has no name in this
// build.
std::string JobFileText(const JobDescription& description);

// Reads the text of a job file. `path` names it in the messages. Throws TrundleError with
// a sentence naming the file and the key or line at fault: broken JSON, no "trundle_job"
// marker, a later version, an unknown key, a value of the wrong type, an unknown kind or
// choice, or a "password" key (which asks for an environment variable instead). The
// passwords of the description returned are empty.
JobDescription JobFromText(const std::string& text, const std::string& path);

// JobFileText written to `path` whole (a temporary file beside it, renamed), or
// JobFromText of the file's contents. Both throw TrundleError naming the file.
void SaveJobFile(const JobDescription& description, const std::string& path);
JobDescription LoadJobFile(const std::string& path);

// Fills each end's password from the variable its password_env names. Returns an error
// sentence naming the variable when one is not set, or empty.
std::string PasswordsFromEnvironment(JobDescription& description);

}  // namespace trundle
