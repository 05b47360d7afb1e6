// Which addresses are this machine's own and which share its networks, as
// active mode decides whom to tell the listener's address.
#include <gtest/gtest.h>
#include <arpa/inet.h>

#include "platform/platform.h"

namespace {

uint32_t address_of(const char* text) {
    in_addr address = {};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

TEST(Addresses, LoopbackIsOwnAndADocumentationAddressIsNot) {
    EXPECT_TRUE(address_is_own(address_of("127.0.0.1")));
    EXPECT_FALSE(address_is_own(address_of("203.0.113.5")));
    EXPECT_FALSE(address_is_own(0));
}

TEST(Addresses, OneNetworkHoldsBothOrNot) {
    // lo is 127.0.0.1/8.
    EXPECT_TRUE(address_same_local_network(address_of("127.0.0.1"), address_of("127.0.0.2")));
    EXPECT_FALSE(address_same_local_network(address_of("127.0.0.1"), address_of("203.0.113.5")));
    EXPECT_FALSE(address_same_local_network(address_of("203.0.113.5"), address_of("203.0.113.6")));
}

TEST(Listening, AnInvalidTypeOrPortIsRefusedWithAReason) {
    char error[64];
    EXPECT_EQ(socket_listen(SOCKET_STREAM, 70000, error, sizeof error), -1);
    EXPECT_STRNE(error, "");
    EXPECT_EQ(socket_listen(7, 0, error, sizeof error), -1);
    EXPECT_EQ(socket_local_port(-1), 0);
    EXPECT_EQ(socket_peer_address(-1), 0u);
}

}  // namespace
