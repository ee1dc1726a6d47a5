#include "LiveWriter.h"

#include "Files.h"

#include <unistd.h>

#include <cerrno>

namespace trevlin::test {

pid_t writerInTheMiddleOf(Children& kids, const std::string& path) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        Files::TemporaryFile file(path);
        const char ok = file.isOpen() && file.write("{\"entries\": [") ? '1' : '0';
        if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    if (pid < 0) {
        ::close(ready[0]);
        return -1;
    }
    kids.adopt(pid);
    char ok = '0';
    while (::read(ready[0], &ok, 1) < 0 && errno == EINTR) continue;
    ::close(ready[0]);
    return ok == '1' ? pid : -1;
}

}  // namespace trevlin::test
