// The Python TLS server of the tests (see tls_server.h).
#include "support/tls_server.h"

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "platform/platform.h"

namespace {

// The first line the child prints, waiting at most 10 s.
std::string read_line(int fd) {
    std::string line;
    uint64_t deadline = monotonic_ms() + 10000;
    while (line.size() < 16 && monotonic_ms() < deadline) {
        struct pollfd waiting = {fd, POLLIN, 0};
        if (poll(&waiting, 1, 200) <= 0) continue;
        char c;
        if (read(fd, &c, 1) != 1 || c == '\n') break;
        line += c;
    }
    return line;
}

}  // namespace

std::string command_output(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return out;
    char line[256];
    while (fgets(line, sizeof line, p) != nullptr) out += line;
    pclose(p);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

std::string tls_test_server_start(TlsTestServer* server, const char* common_name, const char* script) {
    if (mkdtemp(server->folder) == nullptr) return "no scratch folder";
    server->folder_made = true;
    std::string folder = server->folder;
    std::string cert = folder + "/cert.pem", key = folder + "/key.pem";
    std::string made = command_output(std::string("openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=") +
                                      common_name + " -days 2 -keyout " + key + " -out " + cert +
                                      " 2>&1 && echo made");
    if (made.find("made") == std::string::npos) return "no certificate: " + made;
    server->keyprint = command_output(
        "openssl x509 -in " + cert + " -outform der | python3 -c \"import sys, hashlib, base64; "
        "print('SHA256/' + base64.b32encode(hashlib.sha256(sys.stdin.buffer.read()).digest()).decode().rstrip('='))\"");
    if (server->keyprint.size() != 59u) return "no keyprint: " + server->keyprint;
    int out[2];
    if (pipe(out) != 0) return "no pipe";
    server->pid = fork();
    if (server->pid < 0) return "no child";
    if (server->pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execlp("python3", "python3", "-c", script, cert.c_str(), key.c_str(), folder.c_str(), (char*)nullptr);
        _exit(127);
    }
    close(out[1]);
    server->port = read_line(out[0]);
    close(out[0]);
    return server->port.empty() ? "the TLS server did not start" : "";
}

void tls_test_server_stop(TlsTestServer* server) {
    if (server->pid > 0) {
        kill(server->pid, SIGKILL);
        waitpid(server->pid, nullptr, 0);
        server->pid = -1;
    }
    if (server->folder_made) command_output(std::string("rm -rf ") + server->folder);
    server->folder_made = false;
}

// Decrypted records may wait inside the session with nothing on the socket:
// pending() is asked before select, which sees only the socket.
static const char* const RELAY_SCRIPT = R"PY(
import os, select, socket, ssl, sys
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1], sys.argv[2])
listener = socket.create_server(('127.0.0.1', 0))
print(listener.getsockname()[1], flush=True)
while True:
    connection = listener.accept()[0]
    try:
        port = int(open(os.path.join(sys.argv[3], 'backend')).read())
        with context.wrap_socket(connection, server_side=True) as tls, socket.create_connection(('127.0.0.1', port)) as plain:
            tls.settimeout(0.2)
            while True:
                ready = select.select([tls, plain], [], [], 0 if tls.pending() else 10)[0]
                try:
                    data = tls.recv(65536) if tls.pending() or tls in ready else None
                except (TimeoutError, ssl.SSLWantReadError):
                    data = None
                back = plain.recv(65536) if plain in ready else None
                if data == b'' or back == b'':
                    break
                plain.sendall(data or b'')
                tls.sendall(back or b'')
    except (OSError, ValueError):
        pass
    connection.close()
)PY";

std::string tls_test_relay_start(TlsTestServer* server) {
    return tls_test_server_start(server, "kivo-peer", RELAY_SCRIPT);
}

void tls_test_relay_to(const TlsTestServer* server, int port) {
    std::ofstream(std::string(server->folder) + "/backend") << port;
}
