// A real writer of the data folder's files in another process, caught in
// the middle of a write.
#pragma once

#include "Children.h"

#include <sys/types.h>

#include <string>

namespace trevlin::test {

/// Forks a child that starts writing `path` the way every save does (a
/// locked temporary file beside it, partly written) and waits there until
/// it is killed. Returns its pid once the temporary file exists, or -1.
/// Fork it before the test starts any thread.
pid_t writerInTheMiddleOf(Children& kids, const std::string& path);

}  // namespace trevlin::test
