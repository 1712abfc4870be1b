// Owned, ordered collections of items that know their collection and, through it, the
// collection's owner. Every change of a collection's content ends in one call of Update, or one
// after the outermost EndUpdate when changes were made inside an update.
#pragma once

#include "com/component.h"

#include <memory>
#include <vector>

namespace qvr {

class TCollection;

class TCollectionItem : public TObject {
public:
    TCollectionItem(const TCollectionItem&) = delete;
    TCollectionItem& operator=(const TCollectionItem&) = delete;
    // Leaves the collection (one Update) if it is still in it.
    ~TCollectionItem() override;

    // The collection the item was created in; kept while the item is being destroyed.
    TCollection* Collection() const { return collection_; }
    int Index() const;
    // Moves the item to another position of its collection.
    void SetIndex(int index);
    virtual std::wstring DisplayName() const { return ClassName(); }

protected:
    // The item belongs to `collection` from here on, but joins its list only when
    // TCollection::Insert is called after construction, so that the collection's notification
    // sees a completely built item.
    explicit TCollectionItem(TCollection* collection) : collection_(collection) {}

private:
    friend class TCollection;
    TCollection* collection_;
    bool listed_ = false;
};

class TCollection {
public:
    explicit TCollection(TObject* owner) : owner_(owner) {}
    TCollection(const TCollection&) = delete;
    TCollection& operator=(const TCollection&) = delete;
    // Destroys the items without notifications.
    virtual ~TCollection();

    TObject* Owner() const { return owner_; }
    int Count() const { return static_cast<int>(items_.size()); }
    TCollectionItem* Item(int index) const { return items_.at(static_cast<size_t>(index)); }
    const std::vector<TCollectionItem*>& Items() const { return items_; }
    int IndexOf(const TCollectionItem* item) const;

    void BeginUpdate() { ++updateCount_; }
    void EndUpdate();
    bool Updating() const { return updateCount_ > 0; }

    // Appends a newly constructed item of this collection and takes ownership of it.
    void Insert(std::unique_ptr<TCollectionItem> item);
    void Delete(int index);
    void Clear();
    void Move(int from, int to);

protected:
    // One notification per change of content (item nullptr: the collection as a whole).
    virtual void Update(TCollectionItem* item);
    // Moves an item without a notification (for reordering done inside Update).
    void MoveSilently(int from, int to);

private:
    friend class TCollectionItem;
    void Changed();
    void Unlist(TCollectionItem* item);

    TObject* owner_;
    std::vector<TCollectionItem*> items_;
    int updateCount_ = 0;
    bool pending_ = false;
};

// RAII form of BeginUpdate/EndUpdate.
class TCollectionUpdate {
public:
    explicit TCollectionUpdate(TCollection* c) : c_(c) {
        if (c_) c_->BeginUpdate();
    }
    ~TCollectionUpdate() {
        if (c_) c_->EndUpdate();
    }
    TCollectionUpdate(const TCollectionUpdate&) = delete;
    TCollectionUpdate& operator=(const TCollectionUpdate&) = delete;

private:
    TCollection* c_;
};

}  // namespace qvr
