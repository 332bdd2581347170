// The image list container: numbering, lookup, removal and the current element.
#include "imagefiles/image_record.h"

#include <iterator>
#include <utility>

namespace quill::imagefiles {

namespace {

void forgetPath(std::unordered_map<std::string, std::uint32_t>& paths, std::size_t& total,
                const std::string& path) {
    const auto it = paths.find(path);
    if (it == paths.end()) return;
    if (--it->second == 0) paths.erase(it);
    --total;
}

} // namespace

std::ptrdiff_t ImageList::indexOfId(std::int32_t recordId) const {
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        if (m_records[i].recordId == recordId) return std::ptrdiff_t(i);
    }
    return -1;
}

std::ptrdiff_t ImageList::indexOfPath(const std::string& sourcePath) const {
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        if (m_records[i].sourcePath == sourcePath) return std::ptrdiff_t(i);
    }
    return -1;
}

void ImageList::syncPaths() {
    if (m_pathTotal == m_records.size()) return;
    m_paths.clear();
    for (const ImageRecord& record : m_records)
        ++m_paths[record.sourcePath];
    m_pathTotal = m_records.size();
}

bool ImageList::containsPath(const std::string& sourcePath) {
    syncPaths();
    return m_paths.contains(sourcePath);
}

ImageRecord& ImageList::append(ImageRecord record) {
    syncPaths();
    record.recordId = ++m_lastRecordId;
    ++m_paths[record.sourcePath];
    ++m_pathTotal;
    m_records.push_back(std::move(record));
    return m_records.back();
}

void ImageList::erase(std::size_t index) {
    if (index >= m_records.size()) return;
    syncPaths();
    forgetPath(m_paths, m_pathTotal, m_records[index].sourcePath);
    m_records.erase(m_records.begin() + std::ptrdiff_t(index));
    if (m_current > std::ptrdiff_t(index)) {
        --m_current;
    } else if (m_current == std::ptrdiff_t(index) &&
               m_current >= std::ptrdiff_t(m_records.size())) {
        m_current = m_records.empty() ? -1 : std::ptrdiff_t(m_records.size()) - 1;
    }
}

void ImageList::eraseMarked(const std::vector<std::uint8_t>& remove) {
    syncPaths();
    std::size_t kept = 0;
    std::ptrdiff_t current = -1;
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        if (std::ptrdiff_t(i) == m_current) current = std::ptrdiff_t(kept);
        if (i < remove.size() && remove[i] != 0) {
            forgetPath(m_paths, m_pathTotal, m_records[i].sourcePath);
            continue;
        }
        if (kept != i) m_records[kept] = std::move(m_records[i]);
        ++kept;
    }
    m_records.erase(m_records.begin() + std::ptrdiff_t(kept), m_records.end());
    if (current >= std::ptrdiff_t(kept)) current = std::ptrdiff_t(kept) - 1;
    m_current = current;
}

void ImageList::clear() {
    m_records.clear();
    m_paths.clear();
    m_pathTotal = 0;
    m_current = -1;
}

void ImageList::takeRecordsFrom(ImageList& other) {
    if (&other == this) return;
    syncPaths();
    for (const ImageRecord& record : other.m_records)
        ++m_paths[record.sourcePath];
    m_pathTotal += other.m_records.size();
    m_records.insert(m_records.end(), std::make_move_iterator(other.m_records.begin()),
                     std::make_move_iterator(other.m_records.end()));
    if (other.m_lastRecordId > m_lastRecordId) m_lastRecordId = other.m_lastRecordId;
    other.clear();
}

void ImageList::setCurrentIndex(std::ptrdiff_t index) {
    m_current = (index >= 0 && index < std::ptrdiff_t(m_records.size())) ? index : -1;
}

ImageRecord* ImageList::current() {
    return m_current >= 0 && m_current < std::ptrdiff_t(m_records.size())
               ? &m_records[std::size_t(m_current)]
               : nullptr;
}

} // namespace quill::imagefiles
