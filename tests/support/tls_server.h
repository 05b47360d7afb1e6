// A TLS server for tests: python3 running a test's script with the ssl
// module, in a child process, with a self-signed certificate that the openssl
// command makes for the run in a scratch folder. The script gets the
// certificate, the key and the folder as its arguments and prints its port
// (on 127.0.0.1) as its first line. The certificate's keyprint is worked out
// apart from the code under test (openssl and Python's hashlib and base64).
#pragma once

#include <sys/types.h>

#include <string>

struct TlsTestServer {
    char folder[40] = "/tmp/kivo-test-tls-XXXXXX";
    bool folder_made = false;
    pid_t pid = -1;
    std::string port;
    std::string keyprint;  // "SHA256/" and 52 base32 characters
};

// What the command printed, its last line break dropped.
std::string command_output(const std::string& command);
// Makes the folder and the certificate (for common_name), then starts the
// script and waits at most 10 s for its port. Returns an empty text, or why
// it failed.
std::string tls_test_server_start(TlsTestServer* server, const char* common_name, const char* script);
// Kills and reaps the child and removes the folder; safe twice.
void tls_test_server_stop(TlsTestServer* server);

// A TLS front for a plain scripted peer: each connection it accepts is
// decrypted and relayed both ways to 127.0.0.1 at the port last given to
// tls_test_relay_to (read at each accept), and closed when either side closes.
std::string tls_test_relay_start(TlsTestServer* server);
void tls_test_relay_to(const TlsTestServer* server, int port);
