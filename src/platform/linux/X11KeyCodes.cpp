#include "platform/linux/X11KeyCodes.h"

#include <utility>

namespace quenda {

namespace {

// (kernel key number, canonical code)
constexpr std::pair<int, quint16> positions[] = {
    {1, 53},    {2, 18},    {3, 19},    {4, 20},    {5, 21},    {6, 23},    {7, 22},    {8, 26},
    {9, 28},    {10, 25},   {11, 29},   {12, 27},   {13, 24},   {14, 51},   {15, 48},   {16, 12},
    {17, 13},   {18, 14},   {19, 15},   {20, 17},   {21, 16},   {22, 32},   {23, 34},   {24, 31},
    {25, 35},   {26, 33},   {27, 30},   {28, 36},   {29, 59},   {30, 0},    {31, 1},    {32, 2},
    {33, 3},    {34, 5},    {35, 4},    {36, 38},   {37, 40},   {38, 37},   {39, 41},   {40, 39},
    {41, 50},   {42, 56},   {43, 42},   {44, 6},    {45, 7},    {46, 8},    {47, 9},    {48, 11},
    {49, 45},   {50, 46},   {51, 43},   {52, 47},   {53, 44},   {54, 60},   {55, 67},   {56, 58},
    {57, 49},   {58, 57},   {59, 122},  {60, 120},  {61, 99},   {62, 118},  {63, 96},   {64, 97},
    {65, 98},   {66, 100},  {67, 101},  {68, 109},  {71, 89},   {72, 91},   {73, 92},   {74, 78},
    {75, 86},   {76, 87},   {77, 88},   {78, 69},   {79, 83},   {80, 84},   {81, 85},   {82, 82},
    {83, 65},   {86, 10},   {87, 103},  {88, 111},  {96, 76},   {97, 62},   {98, 75},   {100, 61},
    {102, 115}, {103, 126}, {104, 116}, {105, 123}, {106, 124}, {107, 119}, {108, 125}, {109, 121},
    {110, 114}, {111, 117}, {125, 55},  {126, 54},  {183, 105}, {184, 107}, {185, 113},
};

constexpr int evdevOffset = 8;

} // namespace

std::optional<quint16> X11KeyCodes::canonical(int xKeycode)
{
    for (const auto& [kernel, code] : positions)
        if (kernel + evdevOffset == xKeycode)
            return code;
    return std::nullopt;
}

int X11KeyCodes::xKeycode(quint16 canonical)
{
    for (const auto& [kernel, code] : positions)
        if (code == canonical)
            return kernel + evdevOffset;
    return 0;
}

} // namespace quenda
