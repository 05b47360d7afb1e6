// Which addresses are this machine's own and which share one of its
// networks (lo is 127.0.0.1/8 everywhere; 203.0.113.0/24 is for examples).
#include <gtest/gtest.h>
#include <arpa/inet.h>

#include "platform/platform.h"

namespace {

uint32_t address_of(const char* text) {
    in_addr address = {};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

TEST(Addresses, LoopbackIsOwnAndSharesItsNetworkAnExampleAddressDoesNeither) {
    EXPECT_TRUE(address_is_own(address_of("127.0.0.1")));
    EXPECT_FALSE(address_is_own(address_of("203.0.113.5")));
    EXPECT_TRUE(address_same_local_network(address_of("127.0.0.1"), address_of("127.0.0.2")));
    EXPECT_FALSE(address_same_local_network(address_of("127.0.0.1"), address_of("203.0.113.5")));
    EXPECT_FALSE(address_same_local_network(address_of("203.0.113.5"), address_of("203.0.113.6")));
}

}  // namespace
