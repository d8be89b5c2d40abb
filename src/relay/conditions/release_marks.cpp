#include "relay/conditions/release_marks.h"

namespace corvane::relay {

void ReleaseMarks::Add(std::int32_t end, std::int64_t dueNs, bool separate) {
    const std::int64_t position = consumed_ + end;
    if (!Empty()) {
        Mark& last = marks_.back();
        if (last.dueNs == dueNs && !last.separate && !separate) {
            last.end = position;
            return;
        }
    }
    marks_.push_back({position, dueNs, separate});
}

std::int32_t ReleaseMarks::Due(std::int64_t nowNs) const {
    std::int64_t end = consumed_;
    for (std::size_t i = head_; i < marks_.size() && marks_[i].dueNs <= nowNs; ++i) {
        end = marks_[i].end;
        if (marks_[i].separate) {
            break;
        }
    }
    return static_cast<std::int32_t>(end - consumed_);
}

std::int64_t ReleaseMarks::NextDue(std::int64_t nowNs) const {
    for (std::size_t i = head_; i < marks_.size(); ++i) {
        if (marks_[i].dueNs > nowNs) {
            return marks_[i].dueNs;
        }
    }
    return -1;
}

void ReleaseMarks::Consumed(std::int32_t count) {
    consumed_ += count;
    while (head_ < marks_.size() && marks_[head_].end <= consumed_) {
        ++head_;
    }
    if (head_ == marks_.size()) {
        marks_.clear();
        head_ = 0;
    } else if (head_ >= 64 && 2 * head_ >= marks_.size()) {
        marks_.erase(marks_.begin(), marks_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
}

void ReleaseMarks::Clear() {
    marks_.clear();
    head_ = 0;
    consumed_ = 0;
}

}  // namespace corvane::relay
