#include "com/collection.h"

#include "com/error.h"

#include <algorithm>
#include <stdexcept>

namespace qvr {

TCollectionItem::~TCollectionItem() {
    if (listed_ && collection_) collection_->Unlist(this);
}

int TCollectionItem::Index() const { return collection_ ? collection_->IndexOf(this) : -1; }

void TCollectionItem::SetIndex(int index) {
    if (!collection_) return;
    int current = Index();
    if (current >= 0 && current != index) collection_->Move(current, index);
}

TCollection::~TCollection() {
    updateCount_ = 1;  // nobody is told about the items of a collection that goes away
    Clear();
}

int TCollection::IndexOf(const TCollectionItem* item) const {
    auto it = std::find(items_.begin(), items_.end(), item);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TCollection::EndUpdate() {
    if (updateCount_ > 0 && --updateCount_ == 0 && pending_) {
        pending_ = false;
        Update(nullptr);
    }
}

void TCollection::Insert(std::unique_ptr<TCollectionItem> item) {
    if (!item || item->collection_ != this) throw EqvrError(L"item of another collection");
    items_.push_back(item.get());
    TCollectionItem* raw = item.release();
    raw->listed_ = true;
    if (updateCount_ == 0)
        Update(raw);
    else
        pending_ = true;
}

void TCollection::Delete(int index) {
    TCollectionItem* item = items_.at(static_cast<size_t>(index));
    delete item;  // leaves the list and notifies from its destructor
}

void TCollection::Clear() {
    if (items_.empty()) return;
    BeginUpdate();
    while (!items_.empty()) delete items_.back();
    EndUpdate();
}

void TCollection::Move(int from, int to) {
    if (from == to) return;
    MoveSilently(from, to);
    Changed();
}

void TCollection::MoveSilently(int from, int to) {
    if (from < 0 || from >= Count() || to < 0 || to >= Count()) throw EqvrError(L"collection index");
    TCollectionItem* item = items_[static_cast<size_t>(from)];
    items_.erase(items_.begin() + from);
    items_.insert(items_.begin() + to, item);
}

void TCollection::Update(TCollectionItem*) {}

void TCollection::Changed() {
    if (updateCount_ == 0)
        Update(nullptr);
    else
        pending_ = true;
}

void TCollection::Unlist(TCollectionItem* item) {
    items_.erase(std::remove(items_.begin(), items_.end(), item), items_.end());
    item->listed_ = false;
    Changed();
}

}  // namespace qvr
