// rd780-frames: one output line per input line, whatever bytes a frame carries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string TestFrame = "5A0003050559800101010006001000000B000400002030302E363620562000"
                              "322E3031336B487A002E";

// The test frame with byte n replaced.
std::string withByte(std::size_t n, const char* hexByte) {
    std::string f = TestFrame;
    f.replace(2 * n, 2, hexByte);
    return f;
}

std::vector<std::string> runFrames(const std::string& input) {
    char path[] = "/tmp/rd780-frames-in-XXXXXX";
    const int fd = ::mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    ::close(fd);
    const std::string cmd = std::string(RD780_BINARY_DIR) + "/tools/rd780-frames < " + path;
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    EXPECT_NE(p, nullptr);
    char buf[4096];
    std::size_t n;
    while (p && (n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int st = p ? ::pclose(p) : -1;
    ::unlink(path);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

std::size_t tabs(const std::string& s) {
    return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\t'));
}

TEST(FramesTool, ControlBytesInAFrameAreWrittenAsHexEscapes) {
    const std::vector<std::string> lines =
        runFrames(TestFrame + "\n" + withByte(27, "0A") + "\n" + // prefix: LF
                  withByte(27, "09") + "\n" +                    // prefix: TAB
                  withByte(27, "E9") + "\n" +                    // prefix: 0xE9
                  withByte(27, "5C") + "\n");                    // backslash
    ASSERT_EQ(lines.size(), 5u);
    for (const std::string& l : lines)
        EXPECT_EQ(tabs(l), 6u) << l;
    EXPECT_EQ(lines[0], "00.66\t66\t V\tDC\t\t406\t1");
    EXPECT_EQ(lines[1], "00.66\t66\t\\x0AV\tDC\t\t406\t1");
    EXPECT_EQ(lines[2], "00.66\t66\t\\x09V\tDC\t\t406\t1");
    EXPECT_EQ(lines[3], "00.66\t66\t\\xE9V\tDC\t\t406\t1");
    EXPECT_EQ(lines[4], "00.66\t66\t\\x5CV\tDC\t\t406\t1") << "an escape is never ambiguous";
}

TEST(FramesTool, ControlBytesInAnErrorAreWrittenAsHexEscapes) {
    // A digit byte that is a line feed, and a function code character that is ESC.
    std::string raw = TestFrame;
    raw[13] = '\x1B';
    const std::vector<std::string> lines =
        runFrames(withByte(22, "0A") + "\n" + raw + "\n" + TestFrame + "\n");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("error\t", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("\\x0A"), std::string::npos) << lines[0];
    EXPECT_EQ(tabs(lines[0]), 1u);
    EXPECT_EQ(lines[1].rfind("error\t", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("\\x1B"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[1].find('\x1B'), std::string::npos);
    EXPECT_EQ(lines[2].rfind("00.66\t", 0), 0u) << "the next frame keeps its own line";
}

} // namespace
