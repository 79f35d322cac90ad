// Records readings into a reading table as fast as it can until it is killed, printing the
// number of every row the recording rule has posted.
#include "record/ReadingTable.h"
#include "record/RecordingRule.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s TABLE\n", argv[0]);
        return 2;
    }
    int recordNo = 1;
    int recordLimit = rd780::RecordLimits[5];
    rd780::RecordingRule rule(recordNo, recordLimit);
    rd780::ReadingTable table;
    table.openOrCreate(argv[1]);
    for (int i = 0;; ++i) {
        rd780::Reading r{std::to_string(i % 10000), double(i), "mV", i % 2 ? "AC" : "DC", ""};
        if (rule.offer(r, (i * 10) % 86400000, table) != rd780::RecordingRule::Outcome::Recorded)
            return 1;
        std::printf("%d\n", recordNo - 1);
        std::fflush(stdout);
    }
}
