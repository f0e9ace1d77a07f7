#include "PrivateSessionBus.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace kv::test {

namespace {

const char kConfig[] =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=@SOCKET@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

} // namespace

PrivateSessionBus::PrivateSessionBus() {
    const std::string socket = folder_.file("bus");
    std::string config = kConfig;
    config.replace(config.find("@SOCKET@"), 8, socket);
    writeFile(folder_.file("bus.conf"), config);

    int output[2];
    if (::pipe(output) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const std::string configArgument = "--config-file=" + folder_.file("bus.conf");
    pid_ = ::fork();
    if (pid_ == 0) {
        // The daemon ends with the test, however the test ends.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::dup2(output[1], STDOUT_FILENO);
        ::close(output[0]);
        ::close(output[1]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        ::execlp("dbus-daemon", "dbus-daemon", configArgument.c_str(), "--nofork", "--nopidfile",
                 "--print-address=1", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(output[1]);
    if (pid_ < 0) {
        ::close(output[0]);
        throw std::runtime_error("cannot start dbus-daemon");
    }
    // The daemon prints its address once it accepts connections.
    char c = 0;
    while (::read(output[0], &c, 1) == 1 && c != '\n') {
        address_ += c;
    }
    ::close(output[0]);
    if (address_.empty()) {
        throw std::runtime_error("dbus-daemon gave no address");
    }
}

PrivateSessionBus::~PrivateSessionBus() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

} // namespace kv::test
