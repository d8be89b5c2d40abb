#include "control_support.h"

#include <fstream>
#include <sstream>

namespace corvane::control::test {

std::string FakeControlView::EditText(EditBox box) const {
    const auto it = texts.find(box);
    return it == texts.end() ? std::string() : it->second;
}

void FakeControlView::SetEditText(EditBox box, std::string_view text) {
    texts[box] = std::string(text);
}

void TempStoreTest::SetUp() {
    ASSERT_TRUE(store_.IsValid());
    ASSERT_TRUE(dir_.isValid());
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace corvane::control::test
