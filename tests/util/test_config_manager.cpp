#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <unistd.h>

#include "util/config_manager.hpp"

using VELKOR::ConfigManager;

namespace {

class Config : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::string(VELKOR_TEST_TMP) + "/config_" + std::to_string(getpid());
        ASSERT_EQ(system(("mkdir -p " + dir_).c_str()), 0);
    }
    void TearDown() override { EXPECT_EQ(system(("rm -rf " + dir_).c_str()), 0); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    std::string write_file(const std::string& text) const
    {
        const std::string p = path("in.cfg");
        std::ofstream(p) << text;
        return p;
    }

    std::string read_file(const std::string& p) const
    {
        std::ifstream in(p);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // A store holding one known item, to see whether a failed load keeps it.
    static ConfigManager with_marker()
    {
        ConfigManager config;
        config.set(std::vector<int>{7}, "old", "marker");
        return config;
    }

    static bool has_marker(const ConfigManager& config)
    {
        std::vector<int> values;
        return config.get(values, "old", "marker") && values == std::vector<int>{7};
    }

    std::string dir_;
};

} // namespace

TEST_F(Config, SetAndGetKeepTheElementType)
{
    ConfigManager config;
    EXPECT_TRUE(config.set(std::vector<int>{1, -2}, "s", "k"));
    std::vector<int> ints;
    std::vector<double> doubles{9.0};
    std::vector<std::string> strings;
    EXPECT_TRUE(config.get(ints, "s", "k"));
    EXPECT_EQ(ints, (std::vector<int>{1, -2}));
    EXPECT_FALSE(config.get(doubles, "s", "k"));
    EXPECT_EQ(doubles, std::vector<double>{9.0}); // untouched on a type mismatch
    EXPECT_FALSE(config.get(ints, "s", "missing"));
    EXPECT_FALSE(config.get(ints, "missing", "k"));

    // A new type replaces the item's type; the int list stays in the item.
    EXPECT_TRUE(config.set(std::vector<std::string>{"a"}, "s", "k"));
    EXPECT_FALSE(config.get(ints, "s", "k"));
    EXPECT_TRUE(config.get(strings, "s", "k"));
    EXPECT_EQ(strings, std::vector<std::string>{"a"});

    EXPECT_FALSE(config.set(std::vector<double>{}, "s", "empty"));
    EXPECT_FALSE(config.get(doubles, "s", "empty"));
    EXPECT_TRUE(doubles.empty()); // the item exists, its list is empty
}

TEST_F(Config, SingleItemGetReadsAnyListAndClearKeepsTheType)
{
    ConfigManager::SingleItem item;
    EXPECT_EQ(item.data_type(), std::type_index(typeid(int)));
    item.set(std::vector<int>{3});
    item.set(std::vector<double>{1.5});
    EXPECT_EQ(item.data_type(), std::type_index(typeid(double)));
    std::vector<int> ints;
    EXPECT_TRUE(item.get(ints));
    EXPECT_EQ(ints, std::vector<int>{3});
    item.clear();
    EXPECT_FALSE(item.get(ints));
    EXPECT_EQ(item.data_type(), std::type_index(typeid(double)));
}

TEST_F(Config, SaveWritesSectionsInNameOrderAndTheEndLine)
{
    ConfigManager config;
    config.set(std::vector<std::string>{"a", "b"}, "net", "names");
    config.set(std::vector<int>{3, -7}, "CONFIGURATIONS", "id");
    config.set(std::vector<double>{1.5, 2.0}, "CONFIGURATIONS", "gain");
    ASSERT_EQ(system(("mkdir -p " + path("cfg")).c_str()), 0);
    ASSERT_TRUE(config.save(path("cfg/sensor.cfg")));
    EXPECT_EQ(read_file(path("cfg/sensor.cfg")), "#[CONFIGURATIONS]\n"
                                                 "gain=type:float,{1.50,2.0}\n"
                                                 "id=type:int,{3,-7}\n"
                                                 "#[net]\n"
                                                 "names=type:string,{\"a\",\"b\"}\n"
                                                 "\n"
                                                 "## The end of \"sensor.cfg\"");

    testing::internal::CaptureStdout();
    EXPECT_EQ(config.print_message(), 5u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "#[CONFIGURATIONS]\ngain=type:float,{1.50,2.0}\nid=type:int,{3,-7}\n#[net]\n"
              "names=type:string,{\"a\",\"b\"}\n");

    EXPECT_FALSE(config.save(path("no/such/dir/x.cfg")));
}

TEST_F(Config, FloatsAreWrittenWithThePrecisionAndOneTrailingZero)
{
    struct Row {
        uint32_t precision;
        double value;
        const char* text;
    };
    const Row rows[] = {
        {10, 2.5, "2.50"},
        {10, 3.0, "3.0"},
        {10, 0.1, "0.10"},
        {10, -0.25, "-0.250"},
        {2, 1.004, "1.0"},
        {3, 100.0, "100.0"},
        {10, 0.0, "0.0"},
        // A precision of 0 is written as 1: the zeros of 100 must survive.
        {0, 100.0, "100.0"},
        {0, 2.25, "2.20"},
        {0, 1e6, "1000000.0"},
    };
    for (const Row& row : rows) {
        ConfigManager config(row.precision);
        config.set(std::vector<double>{row.value}, "s", "v");
        testing::internal::CaptureStdout();
        config.print_message();
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  std::string("#[s]\nv=type:float,{") + row.text + "}\n")
            << row.precision << " " << row.value;
    }
}

TEST_F(Config, ItemsWithEmptyListsAreLeftOutSoTheFileStillLoads)
{
    ConfigManager config;
    config.set(std::vector<int>{1}, "s", "a");
    config.set(std::vector<std::string>{}, "s", "b");
    config.set(std::vector<double>{}, "t", "only");
    ASSERT_TRUE(config.save(path("out.cfg")));
    EXPECT_EQ(read_file(path("out.cfg")), "#[s]\na=type:int,{1}\n#[t]\n\n## The end of \"out.cfg\"");

    ConfigManager loaded;
    ASSERT_TRUE(loaded.load(path("out.cfg")));
    std::vector<int> ints;
    EXPECT_TRUE(loaded.get(ints, "s", "a"));
    EXPECT_EQ(ints, std::vector<int>{1});
}

TEST_F(Config, SavedFilesLoadBack)
{
    ConfigManager config(4);
    config.set(std::vector<double>{1.23456, -2.0}, "CONFIGURATIONS", "gain");
    config.set(std::vector<int>{2147483647, -2147483647 - 1}, "limits", "i32");
    config.set(std::vector<std::string>{"with space", "x"}, "limits", "names");
    ASSERT_TRUE(config.save(path("round.cfg")));

    ConfigManager loaded;
    ASSERT_TRUE(loaded.load(path("round.cfg")));
    std::vector<double> doubles;
    std::vector<int> ints;
    std::vector<std::string> strings;
    ASSERT_TRUE(loaded.get(doubles, "CONFIGURATIONS", "gain"));
    EXPECT_EQ(doubles, (std::vector<double>{1.2346, -2.0}));
    ASSERT_TRUE(loaded.get(ints, "limits", "i32"));
    EXPECT_EQ(ints, (std::vector<int>{2147483647, -2147483647 - 1}));
    ASSERT_TRUE(loaded.get(strings, "limits", "names"));
    EXPECT_EQ(strings, (std::vector<std::string>{"withspace", "x"}));
}

TEST_F(Config, LoadLines)
{
    struct Row {
        std::string line;
        bool valid;
        std::vector<int> ints; // the item x (or key) read from a valid line
        std::string err;
    };
    const Row rows[] = {
        {"key = {1, 2 ,3} type:int", true, {1, 2, 3}, ""},
        {"x=type:int,{1,2.5}", false, {}, ""},
        {"x=type:int,{99999999999}", false, {}, "ERROR :: Value (99999999999) is out of integer range.\n"},
        {"x=type:int,{--1}", false, {}, "ERROR :: Value (--1) is out of integer range.\n"},
        {"x=type:double,{1}", false, {}, ""},
        {"x=type:int,{}", false, {}, ""},
        {"x=type:int,{,}", false, {}, ""},
        {"#[net", false, {}, ""},
        {"x=type:int,{1}#note", true, {1}, ""},
        {"x=type:int,{1#2}", false, {}, ""},
        {"## The end of \"a.cfg\"", true, {}, ""},
        {"x=type:int,{+5,-0}", true, {5, 0}, ""},
        {"x={4}", false, {}, ""},                   // no type
        {"x=type:int,type:int,{4}", false, {}, ""}, // two type parts
        {"x=type:,{4}", false, {}, ""},
        {"x=type:int,}4{", false, {}, ""},
        {"x=type:int,{4", false, {}, ""},
        {"x", false, {}, ""},
        {"=type:int,{4}", false, {}, ""},
        {"x.y=type:int,{4}", false, {}, ""},
        {"x=#type:int,{4}", false, {}, ""},
    };
    for (const Row& row : rows) {
        ConfigManager config = with_marker();
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const bool loaded = config.load(write_file(row.line + "\n"));
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(loaded, row.valid) << row.line;
        EXPECT_EQ(err, row.err) << row.line;
        if (!row.valid) {
            EXPECT_TRUE(has_marker(config)) << row.line;
            std::string stripped;
            for (char c : row.line) {
                if (c != ' ') {
                    stripped += c;
                }
            }
            EXPECT_EQ(out, "Invalid line: \"" + stripped + "\"\n") << row.line;
            continue;
        }
        EXPECT_FALSE(has_marker(config)) << row.line; // the store was replaced
        EXPECT_EQ(out, "");
        if (!row.ints.empty()) {
            std::vector<int> ints;
            const char* key = row.line.compare(0, 3, "key") == 0 ? "key" : "x";
            EXPECT_TRUE(config.get(ints, "CONFIGURATIONS", key)) << row.line;
            EXPECT_EQ(ints, row.ints) << row.line;
        }
    }
}

TEST_F(Config, LoadFloatsAndStrings)
{
    ConfigManager config;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(config.load(write_file("f=type:float,{1.5,-2,+.25}\n"
                                       "s={\"a b\",\"\",\"q\"\"}type:string\n")));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    std::vector<double> doubles;
    std::vector<std::string> strings;
    ASSERT_TRUE(config.get(doubles, "CONFIGURATIONS", "f"));
    EXPECT_EQ(doubles, (std::vector<double>{1.5, -2.0, 0.25}));
    ASSERT_TRUE(config.get(strings, "CONFIGURATIONS", "s"));
    EXPECT_EQ(strings, (std::vector<std::string>{"ab", "", "q\""}));

    struct Row {
        std::string line;
        std::string err;
    };
    const Row invalid[] = {
        {"f=type:float,{1e5}", ""},
        {"f=type:float,{-.-}", "ERROR :: Value (-.-) is out of float range.\n"},
        {"f=type:float,{1" + std::string(400, '0') + "}",
         "ERROR :: Value (1" + std::string(400, '0') + ") is out of float range.\n"},
        {"s=type:string,{a}", ""},
        {"s=type:string,{\"a\"b}", ""},
        {"s=type:string,{\"}", ""},
    };
    for (const Row& row : invalid) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_FALSE(config.load(write_file(row.line + "\n"))) << row.line;
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), row.err) << row.line;
    }
}

TEST_F(Config, LoadIsAllOrNothing)
{
    ConfigManager config = with_marker();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(config.load(write_file("#[a]\nx=type:int,{1}\n#[b]\ny=type:int,{1.5}\nz=type:int,{3}\n")));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid line: \"y=type:int,{1.5}\"\n");
    std::vector<int> ints;
    EXPECT_TRUE(has_marker(config));
    EXPECT_FALSE(config.get(ints, "a", "x"));

    EXPECT_FALSE(config.load(path("missing.cfg")));
    EXPECT_TRUE(has_marker(config));
}

TEST_F(Config, LoadFollowsSectionsAndReplacesRepeatedKeys)
{
    ConfigManager config;
    ASSERT_TRUE(config.load(write_file("# header\n"
                                       "top=type:int,{1}\n"
                                       "\n"
                                       "   \t\n"
                                       "#[ my sec ]trailing\n"
                                       "k=type:int,{2}\n"
                                       "k=type:int,{3}\n"
                                       "#[]\n"
                                       "e=type:int,{4}\r\n")));
    std::vector<int> ints;
    EXPECT_TRUE(config.get(ints, "CONFIGURATIONS", "top"));
    EXPECT_EQ(ints, std::vector<int>{1});
    EXPECT_TRUE(config.get(ints, "mysec", "k"));
    EXPECT_EQ(ints, std::vector<int>{3});
    EXPECT_TRUE(config.get(ints, "", "e"));
    EXPECT_EQ(ints, std::vector<int>{4});
}

TEST_F(Config, CopiesAreDeep)
{
    ConfigManager config(3);
    config.set(std::vector<double>{1.0}, "s", "k");
    ConfigManager copy(config);
    ConfigManager assigned;
    assigned = config;
    config.set(std::vector<double>{2.0}, "s", "k");
    std::vector<double> doubles;
    ASSERT_TRUE(copy.get(doubles, "s", "k"));
    EXPECT_EQ(doubles, std::vector<double>{1.0});
    ASSERT_TRUE(assigned.get(doubles, "s", "k"));
    EXPECT_EQ(doubles, std::vector<double>{1.0});
}
