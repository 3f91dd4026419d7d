// The shared library exports exactly the names in exported_symbols.txt.
//
// The dynamic symbol table is read straight from the ELF file, so the test
// sees what the dynamic linker sees: every defined global or weak symbol of
// default or protected visibility.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace {

std::vector<char> read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Names of the defined symbols in the .dynsym section of a 64-bit ELF image.
std::set<std::string> exported_names(const std::vector<char> &image) {
    std::set<std::string> names;
    if (image.size() < sizeof(Elf64_Ehdr)) return names;
    const auto *header = reinterpret_cast<const Elf64_Ehdr *>(image.data());
    const auto *sections = reinterpret_cast<const Elf64_Shdr *>(image.data() + header->e_shoff);
    for (int i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNSYM) continue;
        const Elf64_Shdr &strings = sections[sections[i].sh_link];
        const auto *symbols = reinterpret_cast<const Elf64_Sym *>(image.data() + sections[i].sh_offset);
        size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
        for (size_t s = 0; s < count; ++s) {
            const Elf64_Sym &sym = symbols[s];
            int binding = ELF64_ST_BIND(sym.st_info), visibility = ELF64_ST_VISIBILITY(sym.st_other);
            if (sym.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK)) continue;
            if (visibility != STV_DEFAULT && visibility != STV_PROTECTED) continue;
            names.insert(image.data() + strings.sh_offset + sym.st_name);
        }
    }
    return names;
}

std::set<std::string> expected_names() {
    std::set<std::string> names;
    std::ifstream in(test_data_path("exported_symbols.txt"));
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') names.insert(line);
    return names;
}

std::vector<std::string> difference(const std::set<std::string> &a, const std::set<std::string> &b) {
    std::vector<std::string> out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

}  // namespace

TEST(Exports, DynamicSymbolTableMatchesTheExpectedList) {
    std::set<std::string> expected = expected_names();
    ASSERT_GT(expected.size(), 50u) << "expected list not found";
    std::set<std::string> actual = exported_names(read_file(ORB_LIBRARY_PATH));
    ASSERT_FALSE(actual.empty()) << "no dynamic symbols read from " << ORB_LIBRARY_PATH;
    EXPECT_EQ(difference(actual, expected), std::vector<std::string>{}) << "exported but not expected";
    EXPECT_EQ(difference(expected, actual), std::vector<std::string>{}) << "expected but not exported";
}
