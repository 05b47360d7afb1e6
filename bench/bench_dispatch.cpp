// Dispatch throughput of hub traffic through the receive path: a 3000-user
// login burst and plain public chat.
//
// The traffic is made once as one byte stream and then fed as the hub socket
// delivers it: receives of HUB_RECEIVE_BYTES, each placed after the kept tail
// of the previous one (hub_tail_restore), counted, NUL-terminated and handed
// to dispatch_hub_data, exactly as hub_socket_event's read does after its
// recv. One iteration is the whole stream; bytes/s and items/s (messages)
// are reported, so the time per message is 1 / items_per_second.
//
// BM_LoginBurst: the hub's greeting, 3000 "$MyINFO $ALL" messages (as a hub
// sends the user list right after the login), "$OpList" and the welcome
// line. The UserTable starts empty each iteration (client_state_reset, not
// timed); every $MyINFO looks its nick up in the index beside the table and
// takes the lowest free slot from the index's bits.
//
// BM_PlainChat: 4000 public chat lines of 20 to 200 bytes, Latin and
// Cyrillic (code page 1251); each is converted to UTF-16 and appended to the
// ChatLog, whose oldest lines make room. With argument 0 no screen reads the
// log (the user-interface thread never gets to paint); with argument 1 its
// newest lines are copied after every receive, about what a paint reads.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "hub/dispatch.h"
#include "state/client_state.h"

namespace {

constexpr int BURST_USERS = USER_SLOTS;
constexpr int CHAT_LINES = 4000;
constexpr int STREAM_BYTES = 1 << 20;

struct HubStream {
    char bytes[STREAM_BYTES];
    int length;
    int messages;
};

HubStream g_burst;
HubStream g_chat;

uint64_t g_seed;
uint32_t next_random() {
    g_seed = g_seed * 6364136223846793005ull + 1442695040888963407ull;
    return (uint32_t)(g_seed >> 33);
}

void stream_add(HubStream* s, const char* message) {
    int n = (int)strlen(message);
    if (s->length + n > STREAM_BYTES) return;  // cannot happen at these sizes
    memcpy(s->bytes + s->length, message, (size_t)n);
    s->length += n;
    s->messages++;
}

// Six letters, Latin or Cyrillic 1251, then a number that keeps nicks
// distinct and never a prefix of one another.
void make_nick(char* nick, int bytes, int index) {
    int n = 0;
    for (int k = 0; k < 6; k++) {
        uint32_t r = next_random();
        int letter = (int)(r % 26);
        int pick = (int)((r >> 8) % 3);
        nick[n++] = (char)(pick == 0 ? 'A' + letter : pick == 1 ? 'a' + letter : 0xE0 + letter);
    }
    snprintf(nick + n, (size_t)(bytes - n), "_%04d", index);
}

void make_burst() {
    g_seed = 0x2545F4914F6CDD1Dull;
    HubStream* s = &g_burst;
    stream_add(s, "$Supports NoHello UserCommand|");
    stream_add(s, "$Hello benchme|");
    stream_add(s, "$HubName Kivo Bench Hub|");
    stream_add(s, "<Hub-Security> This hub is running a benchmark.|");
    char message[512];
    for (int i = 0; i < BURST_USERS - 1; i++) {
        char nick[32];
        make_nick(nick, sizeof nick, i);
        unsigned long long share = ((unsigned long long)next_random() << 12) ^ next_random();
        snprintf(message, sizeof message,
                 "$MyINFO $ALL %s shares music and films<++ V:0.868,M:P,H:%u/0/0,S:%u>$ $DSL%c$%s@mail.example$%llu$|",
                 nick, 1 + next_random() % 9, 1 + next_random() % 20, 1, nick, share);
        stream_add(s, message);
    }
    stream_add(s, "$MyINFO $ALL benchme [i]mpx200$ $100\x01$$1234567890$|");
    stream_add(s, "$OpList Hub-Security$$|");
    stream_add(s, "<Hub-Security> Welcome to Kivo Bench Hub, benchme!|");
}

void make_chat() {
    g_seed = 0x9E3779B97F4A7C15ull;
    HubStream* s = &g_chat;
    static const char* const WORDS[] = {"hello", "anyone", "has", "the", "new", "album", "thanks", "ok",
                                        "\xEF\xF0\xE8\xE2\xE5\xF2", "\xEA\xF2\xEE", "\xE5\xF1\xF2\xFC",
                                        "\xF4\xE8\xEB\xFC\xEC", "slots", "free", "lol", "download"};
    char message[512];
    for (int i = 0; i < CHAT_LINES; i++) {
        char nick[32];
        make_nick(nick, sizeof nick, i % 50);
        int n = snprintf(message, sizeof message, "<%s>", nick);
        int target = 20 + (int)(next_random() % 181);  // whole line 20 to 200 bytes
        while (n < target - 1) {
            const char* word = WORDS[next_random() % (sizeof WORDS / sizeof WORDS[0])];
            n += snprintf(message + n, sizeof message - (size_t)n, " %s", word);
        }
        if (n > target - 1) n = target - 1;
        message[n++] = '|';
        message[n] = '\0';
        stream_add(s, message);
    }
}

// Items are messages; per_message shows their inverse, the time per message.
// bytes_per_second counts in MiB ("M" is 1024-based); MB_per_s in 10^6 bytes.
void report(benchmark::State& state, const HubStream& s) {
    state.SetBytesProcessed(state.iterations() * s.length);
    state.SetItemsProcessed(state.iterations() * s.messages);
    state.counters["MB_per_s"] =
        benchmark::Counter((double)s.length / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["per_message"] =
        benchmark::Counter((double)s.messages, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["messages"] = s.messages;
    state.counters["stream_bytes"] = s.length;
}

void reset_session() {
    client_state_reset();
    u16_copy(g_state.line_break, LINE_BREAK_UNITS, u"\r\n");
}

// The read path of hub_socket_event with the recv replaced by a copy from
// the stream: tail in front, one receive after it, counted, dispatched.
int feed_stream(const HubStream& s, bool paint_each_receive) {
    static char16_t shown[2000];
    char data[HUB_DATA_BYTES];
    int appended = 0;
    for (int at = 0; at < s.length; at += HUB_RECEIVE_BYTES) {
        int kept = hub_tail_restore(data);
        int got = s.length - at < HUB_RECEIVE_BYTES ? s.length - at : HUB_RECEIVE_BYTES;
        memcpy(data + kept, s.bytes + at, (size_t)got);
        traffic_add_received((uint32_t)got);
        data[kept + got] = '\0';
        appended += dispatch_hub_data(data, kept + got);
        if (paint_each_receive) chatlog_copy_text(shown, 2000);
    }
    return appended;
}

int present_users() {
    int n = 0;
    for (const UserEntry& user : g_state.users) n += user.present;
    return n;
}

void BM_LoginBurst(benchmark::State& state) {
    if (g_burst.length == 0) make_burst();
    for (auto _ : state) {
        state.PauseTiming();
        reset_session();
        state.ResumeTiming();
        benchmark::DoNotOptimize(feed_stream(g_burst, false));
    }
    if (present_users() != BURST_USERS) {
        state.SkipWithError("the burst did not fill the user table");
        return;
    }
    report(state, g_burst);
}
BENCHMARK(BM_LoginBurst)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_PlainChat(benchmark::State& state) {
    if (g_chat.length == 0) make_chat();
    reset_session();
    int appended = 0;
    for (auto _ : state) {
        appended = feed_stream(g_chat, state.range(0) != 0);
        benchmark::DoNotOptimize(appended);
    }
    if (appended == 0 || g_state.hub_tail_len != 0) {
        state.SkipWithError("the chat lines did not reach the ChatLog whole");
        return;
    }
    report(state, g_chat);
}
BENCHMARK(BM_PlainChat)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
