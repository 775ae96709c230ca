#include "ItemFailures.h"

#include "ConversionLog.h"

namespace conversion {

namespace {

thread_local ItemFailures* t_current = nullptr;

} // namespace

ItemFailures::ItemFailures(const char* command) : m_command(command), m_outer(t_current) {
    t_current = this;
}

ItemFailures::~ItemFailures() {
    t_current = m_outer;
}

bool ItemFailures::result(bool jobResult) const {
    if (m_failed.empty())
        return jobResult;
    std::string names;
    for (const std::filesystem::path& item : m_failed)
        names += (names.empty() ? "" : ", ") + item.string();
    ConversionLogf("%s: %zu failed: %s\n", m_command, m_failed.size(), names.c_str());
    return false;
}

void NoteFailedItem(const std::filesystem::path& item) {
    if (t_current)
        t_current->m_failed.push_back(item);
}

} // namespace conversion
