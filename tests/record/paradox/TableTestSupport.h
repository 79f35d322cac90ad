#pragma once
// Scratch folders and the reading-table layout for the engine tests.
#include "record/paradox/ParadoxTable.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>

namespace rd780::test {

namespace px = rd780::paradox;

// A fresh folder under the system temp dir, removed with the object.
class ScratchDir {
public:
    ScratchDir() {
        static int counter = 0;
        dir_ = std::filesystem::temp_directory_path() /
               ("rd780-paradox-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }
    const std::filesystem::path& path() const { return dir_; }

private:
    std::filesystem::path dir_;
};

inline std::vector<px::Field> readingFields() {
    return {{"No", px::FieldType::Long, 0},     {"Time", px::FieldType::Time, 0},
            {"DC/AC", px::FieldType::Alpha, 2}, {"Value", px::FieldType::Alpha, 8},
            {"Unit", px::FieldType::Alpha, 4},  {"AUTO", px::FieldType::Alpha, 4},
            {"Nval", px::FieldType::Number, 0}};
}

inline std::vector<px::Value> readingRow(std::int64_t no) {
    return {no,
            px::TimeOfDay{static_cast<std::int32_t>(no % 86'400'000)},
            std::string(no % 2 ? "AC" : "DC"),
            std::to_string(no % 100000),
            std::string("mV"),
            no % 3 ? px::Value(std::string("AUTO")) : px::Value(px::Null{}), // empty reads as NULL
            static_cast<double>(no) / 8.0};
}

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace rd780::test
