#include "TestCa.h"

#include "TempDir.h"

#include <cstdlib>
#include <stdexcept>

namespace kv::test {
namespace {

void run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
        throw std::runtime_error("failed: " + command);
    }
}

std::string quoted(const std::string& path) {
    return "'" + path + "'";
}

} // namespace

TestCa::TestCa(const std::string& folder)
    : caFile(folder + "/ca.pem"), serverCertificate(folder + "/server.pem"),
      serverKey(folder + "/server.key") {
    const std::string caKey = folder + "/ca.key";
    const std::string request = folder + "/server.csr";
    const std::string extensions = folder + "/server.ext";
    const std::string ecKey = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    run("openssl req -x509 " + ecKey + " -keyout " + quoted(caKey) + " -out " + quoted(caFile) +
        " -days 2 -subj '/CN=KVPortal Test CA'" +
        " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign");
    run("openssl req " + ecKey + " -keyout " + quoted(serverKey) + " -out " + quoted(request) +
        " -subj /CN=127.0.0.1");
    writeFile(extensions, "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    run("openssl x509 -req -in " + quoted(request) + " -CA " + quoted(caFile) + " -CAkey " +
        quoted(caKey) + " -set_serial 1 -days 2 -out " + quoted(serverCertificate) + " -extfile " +
        quoted(extensions));
}

} // namespace kv::test
