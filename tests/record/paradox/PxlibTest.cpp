// An independent reader opens the tables we write and sees the same rows.
#include "TableTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
extern "C" {
#include <paradox.h>
}

namespace {

using namespace rd780::test;

TEST(IndependentReader, ReadsEveryRowWeWrote) {
    ScratchDir tmp;
    const auto file = tmp / "Kv400db.DB";
    std::vector<px::Field> fields = readingFields();
    fields.push_back({"Small", px::FieldType::Short, 0});
    fields.push_back({"Day", px::FieldType::Date, 0});
    fields.push_back({"Flag", px::FieldType::Logical, 0});
    fields.push_back({"Money", px::FieldType::Currency, 0});
    constexpr int kRows = 2500; // several blocks
    auto rowOf = [](int i) {
        auto r = readingRow(i + 1);
        const std::vector<px::Value> more = {std::int64_t{i % 200 - 100},
                                             px::makeDate(1990 + i % 30, 1 + i % 12, 1 + i % 28),
                                             i % 2 == 0, i * 0.25 - 10};
        r.insert(r.end(), more.begin(), more.end());
        return r;
    };
    {
        auto t = px::Table::create(file, fields);
        t.setSyncInterval(1 << 30);
        for (int i = 0; i < kRows; ++i)
            t.appendRow(rowOf(i));
    }

    pxdoc_t* doc = PX_new();
    ASSERT_NE(doc, nullptr);
    ASSERT_EQ(PX_open_file(doc, file.c_str()), 0);
    ASSERT_EQ(PX_get_num_records(doc), kRows);
    ASSERT_EQ(PX_get_num_fields(doc), static_cast<int>(fields.size()));
    pxfield_t* pf = PX_get_fields(doc);
    for (size_t f = 0; f < fields.size(); ++f) {
        EXPECT_STREQ(pf[f].px_fname, fields[f].name.c_str());
        EXPECT_EQ(static_cast<int>(pf[f].px_ftype), static_cast<int>(fields[f].type));
    }
    for (int i = 0; i < kRows; ++i) {
        SCOPED_TRACE(i);
        const auto want = rowOf(i);
        pxval_t** vals = PX_retrieve_record(doc, i);
        ASSERT_NE(vals, nullptr);
        EXPECT_EQ(vals[0]->value.lval, std::get<std::int64_t>(want[0]));
        EXPECT_EQ(vals[1]->value.lval, std::get<px::TimeOfDay>(want[1]).ms);
        for (int a = 2; a <= 5; ++a) {
            const auto& w = want[static_cast<size_t>(a)];
            if (px::isNull(w)) {
                EXPECT_TRUE(vals[a]->isnull);
            } else {
                ASSERT_FALSE(vals[a]->isnull);
                EXPECT_EQ(std::string(vals[a]->value.str.val), std::get<std::string>(w));
            }
        }
        EXPECT_EQ(vals[6]->value.dval, std::get<double>(want[6]));
        EXPECT_EQ(vals[7]->value.lval, std::get<std::int64_t>(want[7]));
        EXPECT_EQ(vals[8]->value.lval, std::get<px::Date>(want[8]).days);
        EXPECT_EQ(vals[9]->value.lval != 0, std::get<bool>(want[9]));
        EXPECT_EQ(vals[10]->value.dval, std::get<double>(want[10]));
        for (size_t f = 0; f < fields.size(); ++f) {
            if (fields[f].type == px::FieldType::Alpha && vals[f]->value.str.val)
                doc->free(doc, vals[f]->value.str.val);
            doc->free(doc, vals[f]);
        }
        doc->free(doc, vals);
    }
    PX_close(doc);
    PX_delete(doc);
}

} // namespace
