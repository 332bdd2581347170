// The image list container: numbering, lookup, removal and the current element.
#include "imagefiles/image_record.h"

#include <iterator>
#include <utility>

namespace quill::imagefiles {

std::ptrdiff_t ImageList::indexOfId(std::int32_t recordId) const {
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        if (m_records[i].recordId == recordId) return std::ptrdiff_t(i);
    }
    return -1;
}

std::ptrdiff_t ImageList::indexOfPath(const std::string& sourcePath) const {
    if (!m_paths.contains(sourcePath)) return -1;
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        if (m_records[i].sourcePath == sourcePath) return std::ptrdiff_t(i);
    }
    return -1;
}

ImageRecord& ImageList::append(ImageRecord record) {
    record.recordId = ++m_lastRecordId;
    m_paths.insert(record.sourcePath);
    m_records.push_back(std::move(record));
    return m_records.back();
}

void ImageList::erase(std::size_t index) {
    if (index >= m_records.size()) return;
    m_records.erase(m_records.begin() + std::ptrdiff_t(index));
    if (m_current > std::ptrdiff_t(index)) {
        --m_current;
    } else if (m_current == std::ptrdiff_t(index) &&
               m_current >= std::ptrdiff_t(m_records.size())) {
        m_current = m_records.empty() ? -1 : std::ptrdiff_t(m_records.size()) - 1;
    }
}

void ImageList::clear() {
    m_records.clear();
    m_paths.clear();
    m_current = -1;
}

void ImageList::takeRecordsFrom(ImageList& other) {
    if (&other == this) return;
    for (const ImageRecord& record : other.m_records) m_paths.insert(record.sourcePath);
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
