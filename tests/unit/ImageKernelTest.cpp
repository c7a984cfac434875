// The average of image delivery: every form this processor runs against the shifted sum, for every
// combination of four pixel values and at the row edges of odd widths and alignments.
#include "ImageKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <random>
#include <vector>

namespace Tamo::Morvane::Zeb::ImageKernels {
// Test names and messages show a form by its name.
void PrintTo(const AverageForm& form, std::ostream* stream) {
    *stream << form.name;
}
} // namespace Tamo::Morvane::Zeb::ImageKernels

namespace Kernels = Tamo::Morvane::Zeb::ImageKernels;

namespace {

uint8_t Expected(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return static_cast<uint8_t>((a + b + c + d) >> 2);
}

// Rows with room before (to shift their start off the vector alignment) and sentinels after.
struct PaddedRow {
    static constexpr size_t Margin = 64;
    static constexpr uint8_t Sentinel = 0xA5;
    std::vector<uint8_t> bytes;
    uint8_t* data;
    size_t width;

    PaddedRow(size_t rowWidth, size_t misalignment)
        : bytes(rowWidth + 2 * Margin, Sentinel), data(Aligned() + misalignment), width(rowWidth) {}
    PaddedRow(const PaddedRow&) = delete;
    PaddedRow& operator=(const PaddedRow&) = delete;
    uint8_t* Aligned() {
        const auto address = reinterpret_cast<uintptr_t>(bytes.data());
        return bytes.data() + (64 - address % 64) % 64;
    }
    bool MarginsIntact() const {
        const uint8_t *begin = bytes.data(), *end = begin + bytes.size(), *row = data;
        const auto untouched = [](uint8_t byte) { return byte == Sentinel; };
        return std::all_of(begin, row, untouched) && std::all_of(row + width, end, untouched);
    }
};

class AverageForms : public ::testing::TestWithParam<Kernels::AverageForm> {};

} // namespace

// All 2^32 combinations of (p0, p1, p2, p3): rows of 65536 pixels hold every (p2, p3) pair, and the
// rows of p0 and p1 take every pair of constant values.
TEST_P(AverageForms, EveryCombinationOfFourPixelsGivesItsShiftedSum) {
    const Kernels::AverageForm form = GetParam();
    constexpr size_t Count = 65536;
    std::vector<uint8_t> a(Count), b(Count), c(Count), d(Count), out(Count), copies[4], expected(Count);
    for (auto& copy : copies)
        copy.resize(Count);
    for (size_t i = 0; i < Count; ++i) {
        c[i] = static_cast<uint8_t>(i & 0xFF);
        d[i] = static_cast<uint8_t>(i >> 8);
    }
    for (uint32_t sum = 0; sum <= 510; ++sum) {
        for (size_t i = 0; i < Count; ++i)
            expected[i] = Expected(sum, 0, c[i], d[i]);
        for (uint32_t p0 = sum > 255 ? sum - 255 : 0; p0 <= sum && p0 <= 255; ++p0) {
            std::memset(a.data(), static_cast<int>(p0), Count);
            std::memset(b.data(), static_cast<int>(sum - p0), Count);
            form.average(a.data(), b.data(), c.data(), d.data(), out.data(), Count);
            ASSERT_EQ(std::memcmp(out.data(), expected.data(), Count), 0)
                << form.name << ": p0 " << p0 << ", p1 " << sum - p0;
            if (p0 % 17 != 0)
                continue; // the copying form on a sample of the pairs: it shares the arithmetic
            const uint8_t* const sources[4] = {a.data(), b.data(), c.data(), d.data()};
            uint8_t* const destinations[4] = {copies[0].data(), copies[1].data(), copies[2].data(),
                                              copies[3].data()};
            std::memset(out.data(), 0, Count);
            form.averageAndCopy(sources, destinations, out.data(), Count);
            ASSERT_EQ(std::memcmp(out.data(), expected.data(), Count), 0) << form.name << " with copies";
            ASSERT_EQ(copies[0], a);
            ASSERT_EQ(copies[3], d);
        }
    }
}

// Widths up to several vector lengths, rows starting off the vector alignment, and at each row
// edge every value of one pixel against random neighbours; nothing is written outside the row.
TEST_P(AverageForms, RowEdgesOfEveryWidthAndAlignment) {
    const Kernels::AverageForm form = GetParam();
    std::mt19937 random(7);
    for (size_t width = 1; width <= 100; ++width) {
        for (size_t misalignment : {0, 1, 7, 15, 31}) {
            PaddedRow rows[4] = {
                {width, (misalignment * 3) % 32}, {width, 0}, {width, misalignment}, {width, 5}};
            for (PaddedRow& row : rows)
                for (size_t x = 0; x < width; ++x)
                    row.data[x] = static_cast<uint8_t>(random());
            const size_t edges[4] = {0, 1, width - 2, width - 1};
            for (size_t edge : edges) {
                if (edge >= width)
                    continue;
                for (size_t k = 0; k < 4; ++k) {
                    for (uint32_t value = 0; value < 256; ++value) {
                        rows[k].data[edge] = static_cast<uint8_t>(value);
                        PaddedRow out(width, misalignment);
                        form.average(rows[0].data, rows[1].data, rows[2].data, rows[3].data, out.data, width);
                        for (size_t x = 0; x < width; ++x)
                            ASSERT_EQ(out.data[x], Expected(rows[0].data[x], rows[1].data[x], rows[2].data[x],
                                                            rows[3].data[x]))
                                << form.name << ": width " << width << ", misalignment " << misalignment
                                << ", pixel " << x << ", edge " << edge << ", input " << k << ", value "
                                << value;
                        ASSERT_TRUE(out.MarginsIntact()) << form.name << ": width " << width;
                    }
                }
            }
            PaddedRow copies[4] = {{width, 3}, {width, 0}, {width, misalignment}, {width, 1}};
            PaddedRow out(width, misalignment);
            const uint8_t* const sources[4] = {rows[0].data, rows[1].data, rows[2].data, rows[3].data};
            uint8_t* const destinations[4] = {copies[0].data, copies[1].data, copies[2].data, copies[3].data};
            form.averageAndCopy(sources, destinations, out.data, width);
            for (size_t k = 0; k < 4; ++k) {
                ASSERT_EQ(std::memcmp(copies[k].data, rows[k].data, width), 0) << form.name << ": copy " << k;
                ASSERT_TRUE(copies[k].MarginsIntact()) << form.name << ": width " << width;
            }
            for (size_t x = 0; x < width; ++x)
                ASSERT_EQ(out.data[x],
                          Expected(rows[0].data[x], rows[1].data[x], rows[2].data[x], rows[3].data[x]))
                    << form.name << " with copies: width " << width << ", pixel " << x;
            ASSERT_TRUE(out.MarginsIntact());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OnThisProcessor, AverageForms, ::testing::ValuesIn(Kernels::AverageForms()),
                         [](const ::testing::TestParamInfo<Kernels::AverageForm>& form) {
                             return std::string(form.param.name);
                         });
