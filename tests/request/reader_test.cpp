// The four request readers through their exports. All outputs sit between guard bytes, preset;
// after each call the whole area must equal the preset with just the expected fields changed,
// so any stray write (a neighbour, a reserved field, one byte past a buffer) fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <vector>

#include "test_platform.h"
#include "tovarine.h"

namespace {

template <class Out>
struct Guarded {
    unsigned char lead[64];
    Out out;
    unsigned char tail[64];
    Guarded() { std::fill_n(Bytes(), sizeof *this, 0xA5); }
    unsigned char *Bytes() { return reinterpret_cast<unsigned char *>(this); }
    bool operator==(const Guarded &o) const { return std::memcmp(this, &o, sizeof o) == 0; }
};

template <class Out>
void ExpectBytes(Guarded<Out> got, Guarded<Out> want) {
    const auto at = std::mismatch(got.Bytes(), got.Bytes() + sizeof got, want.Bytes()).first;
    EXPECT_EQ(static_cast<size_t>(at - got.Bytes()), sizeof got)
        << "wrong byte at " << at - got.Bytes() - 64;
}

// One host output, convertible to the export's pointer type.
struct Slot {
    void *at;
    size_t size;
    template <class T>
    operator T *() const {
        return static_cast<T *>(at);
    }
};
template <class T>
Slot S(T &field) {
    return {&field, sizeof field};
}
using Slots = std::vector<Slot>;

struct Live {
    static constexpr const char *kName = "f3121538644 (live)";
    struct Out {
        double framerate;
        int32_t server, device, timeout, mozilla, features, sendtime, sendstate, cpid, slide_show;
        int32_t spare;  // no padding: every byte is compared
    };
    static int32_t Call(const char *t, const Slots &s) {
        return f3121538644(t, s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[9]);
    }
    static constexpr const char *kFull =
        "server=1&device=2&framerate=12.5&timeout=30&features=3&sendtime=4&sendstate=5&cpid=6"
        "&slide_show=7 HTTP/1.1\r\nUser-Agent: Mozilla/5.0\r\n";
    static Slots Of(Out &o) {
        return {S(o.server),   S(o.device),   S(o.framerate), S(o.timeout), S(o.mozilla),
                S(o.features), S(o.sendtime), S(o.sendstate), S(o.cpid),    S(o.slide_show)};
    }
};

struct Segment {
    static constexpr const char *kName = "f373279 (stream)";
    struct Out {
        int32_t server, segment, channel, sendstate, timeout, features, sendtime, cpid;
    };
    static int32_t Call(const char *t, const Slots &s) {
        return f373279(t, s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7]);
    }
    static constexpr const char *kFull =
        "server=1&segment=2&channel=r&sendstate=4&timeout=5&features=6&sendtime=7&cpid=8";
    static Slots Of(Out &o) {
        return {S(o.server),  S(o.segment),  S(o.channel),  S(o.sendstate),
                S(o.timeout), S(o.features), S(o.sendtime), S(o.cpid)};
    }
};

enum { kModel, kCamera, kDevice, kNumber, kSpeed, kCommand, kButton };
struct Camera {
    [[maybe_unused]] static constexpr const char *kName = "f3221538674 (camera)";
    struct Out {
        struct {
            char text[1024];
            unsigned char guard[64];
        } buffer[7];
    };
    static int32_t Call(const char *t, const Slots &s) {
        return f3221538674(t, s[0], s[1], s[2], s[3], s[4], s[5], s[6]);
    }
    static constexpr const char *kFull =
        "model=m1&camera=c2&device=d3&number=n4&speed=s5&command=up&button=b7";
    static Slots Of(Out &o) {
        Slots slots;
        for (auto &b : o.buffer) slots.push_back(S(b.text));
        return slots;
    }
};
// The value and its NUL; the rest of the buffer stays as the host left it.
void Put(Camera::Out &o, int which, const std::string &value) {
    std::memcpy(o.buffer[which].text, value.c_str(), value.size() + 1);
}

struct Clip {
    static constexpr const char *kName = "f39260000417E (clip)";
    using Out = MediaRequest;
    static int32_t Call(const char *t, const Slots &s) { return f39260000417E(t, s[0]); }
    static constexpr const char *kFull =
        "mediafile=clip.mp4&startmsec=1&looping=2&stopmsec=3&doburst=4&cpid=5&features=6"
        "&sendtime=7&framerate=8&width=9&height=10&quality=11&segment=12&channel=13&mediatype=a";
    static Slots Of(Out &o) { return {S(o)}; }
};
void Section(MediaRequest &r, int32_t (&section)[4]) {
    const int32_t group[4] = {r.features, r.send_time, r.group_value, r.cpid};
    std::memcpy(section, group, sizeof group);
}

// Each request with the fields it must change (none for a null function).
template <class R>
using Table = std::vector<std::pair<std::string, std::function<void(typename R::Out &)>>>;
template <class R>
void RunTable(const Table<R> &cases) {
    for (const auto &[text, expect] : cases) {
        SCOPED_TRACE("text \"" + text.substr(0, 100) + "\"");
        Guarded<typename R::Out> got, want;
        if (expect) expect(want.out);
        EXPECT_EQ(R::Call(text.c_str(), R::Of(got.out)), 0);
        ExpectBytes(got, want);
    }
}

TEST(ReaderLive, Table) {
    RunTable<Live>({
        {Live::kFull,
         [](auto &o) {
             o.framerate = 12.5, o.server = 1, o.device = 2, o.timeout = 30000, o.mozilla = 1;
             o.features = 3, o.sendtime = 4, o.sendstate = 5, o.cpid = 6, o.slide_show = 7;
         }},
        {"timeout=-2&timeout=5", [](auto &o) { o.timeout = -2000; }},
        {"timeout=abc", [](auto &o) { o.timeout = 0; }},
        {"timeout=", [](auto &o) { o.timeout = 0; }},
        {"timeout=3000000", [](auto &o) { o.timeout = INT32_MAX; }},
        {"timeout=-3000000", [](auto &o) { o.timeout = INT32_MIN; }},
        {"framerate=1d2&device=", [](auto &o) { o.framerate = 100.0, o.device = 0; }},
        {"framerate=", [](auto &o) { o.framerate = 0.0; }},
        {"Server=1&SERVER=2&server=3", [](auto &o) { o.server = 3; }},
        {"device=3 server=4&cpid=5", [](auto &o) { o.device = 3; }},
        // The header scan: the whole text, word by word; only the first "User-Agent:" counts.
        {" user-agent:\tmozilla/4.0", [](auto &o) { o.mozilla = 1; }},
        {"x\vUser-Agent:\fMozilla", [](auto &o) { o.mozilla = 1; }},
        {"a=1 User-Agent: curl/8 User-Agent: Mozilla/5.0", nullptr},
        {"a=1 User-Agent:Mozilla/5.0", nullptr},
        {"a=1 XUser-Agent: Mozilla/5.0", nullptr},
        {"a=1 User-Agent: NotMozilla", nullptr},
        {"a=1 User-Agent:", nullptr},
    });
}

TEST(ReaderSegment, Table) {
    RunTable<Segment>({
        {Segment::kFull, [](auto &o) { o = {1, 2, 1, 4, 5000, 6, 7, 8}; }},
        {"channel=Right", [](auto &o) { o.channel = 1; }},
        {"channel=%52", [](auto &o) { o.channel = 1; }},
        {"channel=L", [](auto &o) { o.channel = 0; }},
        {"channel=1", [](auto &o) { o.channel = 0; }},
        {"channel=", [](auto &o) { o.channel = 0; }},
        {"Channel=R&server=3&server=4", [](auto &o) { o.server = 3; }},
        {"timeout=-3000000 channel=R", [](auto &o) { o.timeout = INT32_MIN; }},
    });
}

TEST(ReaderCamera, Table) {
    const std::string long_value(2000, 'x');
    RunTable<Camera>({
        {Camera::kFull,
         [](auto &o) {
             const char *v[] = {"m1", "c2", "d3", "n4", "s5", "up", "b7"};
             for (int i = 0; i < 7; ++i) Put(o, i, v[i]);
         }},
        {"number=" + long_value, [&](auto &o) { Put(o, kNumber, long_value.substr(0, 1023)); }},
        {"speed=50%&button=%41+b%4",
         [](auto &o) { Put(o, kSpeed, "50%"), Put(o, kButton, "A b%4"); }},
        {"command=", [](auto &o) { Put(o, kCommand, ""); }},
        {"model=a&model=b button=c", [](auto &o) { Put(o, kModel, "a"); }},
        {"Command=left", nullptr},
    });
}

TEST(ReaderClip, Table) {
    RunTable<Clip>({
        {"mediafile=clip1&startmsec=1500&stopmsec=9000",
         [](auto &r) {
             std::strcpy(r.media_file, "clip1"), r.start_msec = 1500, r.stop_msec = 9000;
         }},
        {"looping=1&doburst=0.1&width=640&height=480&quality=75&segment=9&channel=R&framerate=2.5",
         [](auto &r) {
             r.looping = 1, r.burst = 0.1f, r.width = 640, r.height = 480, r.quality = 75;
             r.segment = 9, r.channel = 0, r.frame_rate = 2.5;
         }},
        {"doburst=5D-1", [](auto &r) { r.burst = 0.5f; }},
        {"doburst=1e39", [](auto &r) { r.burst = std::numeric_limits<float>::infinity(); }},
        {"mediatype=video&features=7&cpid=12",
         [](auto &r) {
             r.features = 7, r.cpid = 12, r.media_kind = 1, Section(r, r.video_section);
         }},
        {"mediatype=Audio", [](auto &r) { r.media_kind = 2, Section(r, r.audio_section); }},
        {"features=1&mediatype=a&sendtime=2",
         [](auto &r) {
             r.features = 1, r.send_time = 2, r.media_kind = 2, Section(r, r.audio_section);
         }},
        {"mediatype=x&Mediatype=v", nullptr},
        {"mediatype=", nullptr},
        {"mediafile=" + std::string(300, 'm'),
         [](auto &r) { std::memset(r.media_file, 'm', 255), r.media_file[255] = 0; }},
    });
}

// Null text, null outputs and exhausted local memory, alike for every reader.
template <class R>
class ReaderAll : public ::testing::Test {};
using Readers = ::testing::Types<Live, Segment, Camera, Clip>;
TYPED_TEST_SUITE(ReaderAll, Readers);

TYPED_TEST(ReaderAll, NullTextOrOutputIsNotWritten) {
    using R = TypeParam;
    Guarded<typename R::Out> pristine, full, none;
    EXPECT_EQ(R::Call(nullptr, R::Of(none.out)), 0);
    ExpectBytes(none, pristine);
    const Slots all = R::Of(full.out);
    EXPECT_EQ(R::Call(R::kFull, Slots(all.size(), Slot{nullptr, 0})), 0);
    R::Call(R::kFull, all);
    for (size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE("null output " + std::to_string(i));
        auto got = pristine, want = full;
        auto slots = R::Of(got.out);
        const auto at = static_cast<unsigned char *>(slots[i].at) - got.Bytes();
        ASSERT_NE(std::memcmp(full.Bytes() + at, pristine.Bytes() + at, slots[i].size), 0);
        std::memcpy(want.Bytes() + at, pristine.Bytes() + at, slots[i].size);
        slots[i].at = nullptr;
        EXPECT_EQ(R::Call(R::kFull, slots), 0);
        ExpectBytes(got, want);
    }
}

// Ordinary requests take no local memory, so running out of it changes nothing. A numeric value
// longer than the readers' stack buffer takes one block, and when that cannot be had nothing is
// written; the camera reader converts no number.
TYPED_TEST(ReaderAll, LocalMemoryOnlyForLongNumbers) {
    TOVARINE_SKIP_UNLESS_ALLOCATIONS_CAN_FAIL();
    using R = TypeParam;
    Guarded<typename R::Out> got, want;
    R::Call(R::kFull, R::Of(want.out));
    EXPECT_EQ(tovarine::testing::ForEachAllocationFailure(
                  [&] { got = {}, R::Call(R::kFull, R::Of(got.out)); }, [](int64_t) {}),
              0);
    ExpectBytes(got, want);
    if constexpr (!std::is_same_v<R, Camera>) {
        // The long value comes first, so it is the one read; it converts to 9.
        const std::string text = "cpid=" + std::string(3000, '0') + "9&" + R::kFull;
        const int64_t sites = tovarine::testing::ForEachAllocationFailure(
            [&] { got = {}, R::Call(text.c_str(), R::Of(got.out)); },
            [&](int64_t n) {
                SCOPED_TRACE("allocation " + std::to_string(n) + " failed");
                Guarded<typename R::Out> none;
                // The header scan allocates nothing, so the flag may still be set.
                if constexpr (std::is_same_v<R, Live>) none.out.mozilla = got.out.mozilla;
                ExpectBytes(got, none);
            });
        EXPECT_EQ(sites, 1);
        tovarine::testing::RecordAllocationSites(R::kName, sites);
        R::Call(text.c_str(), R::Of(got.out));
        EXPECT_EQ(got.out.cpid, 9);
    }
}

// A host may hand a reader outputs that lie inside the request text itself. Every output is
// still read from the text as it was on entry, as when the outputs lie elsewhere; the reader
// then reads from one private copy, and without memory for it writes nothing.
TEST(ReaderAliasing, OutputsInsideTheTextReadTheOriginal) {
    const std::string request = "model=abc&camera=%41%42&device=d3&number=n4 tail";
    Guarded<Camera::Out> apart;
    Camera::Call(request.c_str(), Camera::Of(apart.out));

    std::vector<char> shared(2048, 0);
    std::memcpy(shared.data(), request.c_str(), request.size() + 1);
    Guarded<Camera::Out> got;
    Slots slots = Camera::Of(got.out);
    slots[kModel].at = shared.data();  // "abc" lands on "model=..." before camera is read
    Camera::Call(shared.data(), slots);
    EXPECT_STREQ(shared.data(), "abc");
    for (int i : {kCamera, kDevice, kNumber}) {
        EXPECT_STREQ(got.out.buffer[i].text, apart.out.buffer[i].text) << i;
    }

    // An integer output over the value of a later field.
    alignas(int32_t) char text[] = "server=7&segment=12345";
    int32_t segment = 0;
    auto *over_segment = reinterpret_cast<int32_t *>(text + 16);  // "=123"
    f373279(text, over_segment, &segment, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(*over_segment, 7);
    EXPECT_EQ(segment, 12345);

    // An output over the client word: the Mozilla flag still comes from the text on entry.
    alignas(int32_t) char live[] = "server=7    User-Agent: Mozilla/5.0";
    int32_t mozilla = 0;
    auto *over_client = reinterpret_cast<int32_t *>(live + 24);  // "Mozi"
    f3121538644(live, over_client, nullptr, nullptr, nullptr, &mozilla, nullptr, nullptr, nullptr,
                nullptr, nullptr);
    EXPECT_EQ(*over_client, 7);
    EXPECT_EQ(mozilla, 1);

    if (!tovarine::testing::AllocationFailuresInjectable()) return;
    std::memcpy(shared.data(), request.c_str(), request.size() + 1);
    const int64_t sites = tovarine::testing::ForEachAllocationFailure(
        [&] { got = {}, Camera::Call(shared.data(), slots); },
        [&](int64_t) {
            EXPECT_EQ(std::string(shared.data()), request);
            ExpectBytes(got, Guarded<Camera::Out>{});
        });
    EXPECT_EQ(sites, 1);
}

template <class R>
Guarded<typename R::Out> RunFull() {
    Guarded<typename R::Out> g;
    R::Call(R::kFull, R::Of(g.out));
    return g;
}

TEST(ReaderThreads, FourThreadsAgreeWithOne) {
    const auto once = [] {
        return std::tuple(RunFull<Live>(), RunFull<Segment>(), RunFull<Camera>(), RunFull<Clip>());
    };
    const auto expected = once();
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) mismatches += once() == expected ? 0 : 1;
        });
    }
    for (auto &thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
