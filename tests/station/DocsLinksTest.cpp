// The README and the manual as a reader follows them: every relative link reaches a file, and every
// #anchor a heading of the page it names, so that a page moved or a heading renamed leaves no dead
// end behind.
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace zeb::test {

namespace {

namespace fs = std::filesystem;

const fs::path Docs = TestEnvironment::SourcePath(ZEB_DOCS);
const fs::path Root = Docs.parent_path();

// The pages a reader starts from: the README, the changelog and every page of docs/, in name order.
std::vector<fs::path> Pages() {
    std::vector<fs::path> pages = {Root / "README.md", Root / "CHANGELOG.md"};
    std::vector<fs::path> manual;
    for (const auto& entry : fs::directory_iterator(Docs))
        if (entry.path().extension() == ".md")
            manual.push_back(entry.path());
    std::sort(manual.begin(), manual.end());
    pages.insert(pages.end(), manual.begin(), manual.end());
    return pages;
}

// The text of a page without its fenced code blocks, whose brackets are code, not links.
std::string Prose(const std::string& page) {
    std::istringstream lines(page);
    std::string prose;
    bool fenced = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("```")) {
            fenced = !fenced;
            continue;
        }
        if (!fenced)
            prose += line + "\n";
    }
    return prose;
}

// The anchor a heading gets where Markdown is rendered: lower case, spaces as hyphens, other
// punctuation dropped (bytes of UTF-8 letters are kept), repeats numbered from 1.
std::set<std::string> Anchors(const std::string& page) {
    std::set<std::string> anchors;
    std::map<std::string, int> seen;
    std::istringstream lines(Prose(page));
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("#"))
            continue;
        const size_t title = line.find_first_not_of('#');
        if (title == std::string::npos || line[title] != ' ')
            continue;
        std::string anchor;
        for (const char c : line.substr(title + 1)) {
            const auto byte = static_cast<unsigned char>(c);
            if (std::isalnum(byte) || c == '-' || c == '_' || byte >= 0x80)
                anchor += static_cast<char>(std::tolower(byte));
            else if (c == ' ')
                anchor += '-';
        }
        const int repeat = seen[anchor]++;
        anchors.insert(repeat == 0 ? anchor : anchor + "-" + std::to_string(repeat));
    }
    return anchors;
}

struct Link {
    std::string target; // as written
    fs::path file;      // the file it names (the page itself for "#anchor")
    std::string anchor; // without '#', or empty
};

// The relative links of a page: [text](target) and ![alt](target) outside code.
std::vector<Link> RelativeLinks(const fs::path& page, const std::string& text) {
    // Inline code may hold brackets and parentheses of its own.
    const std::string prose = std::regex_replace(Prose(text), std::regex("`[^`]*`"), "");
    static const std::regex link(R"(\]\(([^()\s]+)\))");
    std::vector<Link> links;
    for (auto match = std::sregex_iterator(prose.begin(), prose.end(), link); match != std::sregex_iterator();
         ++match) {
        const std::string target = (*match)[1];
        if (target.find("://") != std::string::npos || target.starts_with("mailto:"))
            continue;
        const size_t hash = target.find('#');
        const std::string path = target.substr(0, hash);
        links.push_back({target, path.empty() ? page : page.parent_path() / path,
                         hash == std::string::npos ? "" : target.substr(hash + 1)});
    }
    return links;
}

} // namespace

TEST(DocsLinks, EveryRelativeLinkReachesItsFileAndHeading) {
    const std::vector<fs::path> pages = Pages();
    ASSERT_GT(pages.size(), 5u) << "the manual's pages in " << Docs;
    int checked = 0;
    for (const fs::path& page : pages) {
        ASSERT_TRUE(fs::exists(page)) << page;
        const std::string name = fs::relative(page, Root).generic_string();
        for (const Link& link : RelativeLinks(page, TestEnvironment::ReadFile(page))) {
            ++checked;
            if (!fs::exists(link.file)) {
                ADD_FAILURE() << name << " links to " << link.target << ", which does not exist";
                continue;
            }
            if (link.anchor.empty())
                continue;
            if (link.file.extension() != ".md") {
                ADD_FAILURE() << name << " links to an anchor of " << link.target << ", which is no page";
                continue;
            }
            EXPECT_EQ(Anchors(TestEnvironment::ReadFile(link.file)).count(link.anchor), 1u)
                << name << " links to " << link.target << ": no heading of that page gives #" << link.anchor;
        }
    }
    EXPECT_GT(checked, 50) << "the pages link to each other";
}

TEST(DocsLinks, AnchorsAreMadeAsPagesRenderThem) {
    const std::set<std::string> anchors = Anchors("# The station's optics\n"
                                                  "```\n# not a heading\n```\n"
                                                  "## `zeb shell`\n"
                                                  "## For scripts: JSON and exit statuses\n"
                                                  "## Measured\n## Measured\n"
                                                  "#hashtag\n");
    EXPECT_EQ(anchors,
              (std::set<std::string>{"the-stations-optics", "zeb-shell", "for-scripts-json-and-exit-statuses",
                                     "measured", "measured-1"}));
}

} // namespace zeb::test
