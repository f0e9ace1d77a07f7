#include "TestCa.h"

#include <cstdlib>
#include <stdexcept>

namespace kv::test {

TestCa::TestCa(const std::string& folder)
    : caFile(folder + "/ca.pem"), serverCertificate(folder + "/server.pem"),
      serverKey(folder + "/server.key") {
    const std::string script =
        "cd '" + folder + "' && k='-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes'" +
        " && openssl req -x509 $k -keyout ca.key -out ca.pem -days 2 -subj '/CN=KVPortal Test CA'" +
        " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign" +
        " && openssl req $k -keyout server.key -out server.csr -subj /CN=127.0.0.1" +
        " && echo subjectAltName=IP:127.0.0.1,DNS:localhost > server.ext" +
        " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -set_serial 1 -days 2" +
        " -out server.pem -extfile server.ext";
    if (std::system(("(" + script + ") >/dev/null 2>&1").c_str()) != 0) {
        throw std::runtime_error("cannot make a certificate authority in " + folder);
    }
}

} // namespace kv::test
