// The replay rate a recording's record time stamps give, and where they are
// not to be trusted.
#include <QtTest>

#include "main_window/replay_timing.hpp"

class TestReplayTiming : public QObject {
    Q_OBJECT

private slots:
    void rate_follows_the_stamps_and_refuses_unusable_ones() {
        const int64_t t0 = 1700000000000000;
        std::vector<int64_t> at20;
        for (int i = 0; i < 41; ++i)
            at20.push_back(t0 + i * 50000);
        QCOMPARE(replay_timing::recorded_rate(at20), 20.0);

        auto with = [&](size_t i, int64_t v) {
            std::vector<int64_t> s = at20;
            s[i] = v;
            return s;
        };
        const std::pair<const char*, std::vector<int64_t>> unusable[] = {
            {"zero stamp", with(0, 0)},
            {"backwards", with(20, t0 + 18 * 50000)},
            {"repeated", with(20, t0 + 19 * 50000)},
            {"absurd gap", with(40, t0 + 39 * 50000 + replay_timing::kMaxFrameGapUs + 1)},
            {"one frame", {t0}},
            {"no frame", {}},
        };
        for (const auto& c : unusable)
            QVERIFY2(replay_timing::recorded_rate(c.second) == 0.0, c.first);
    }
};

QTEST_APPLESS_MAIN(TestReplayTiming)
#include "test_replay_timing.moc"
