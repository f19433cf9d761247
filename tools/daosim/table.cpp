#include "tools/daosim/table.h"

namespace daosim {

int Table::ColumnIndex(TextView name) const {
    for (size_t i = 0; i < schema_.columns.size(); ++i)
        if (EqualNoCase(schema_.columns[i].name, name)) return static_cast<int>(i);
    return -1;
}

namespace {
constexpr size_t kChunkChars = 1 << 20;
}

std::optional<TextView> Table::Row(uint32_t id) const {
    if (id >= rows_.size() || !rows_[id].live) return std::nullopt;
    const Span& span = rows_[id];
    return TextView(chunks_[span.chunk].data() + span.offset, span.length);
}

std::vector<uint32_t> Table::Ids() const {
    std::vector<uint32_t> ids;
    ids.reserve(live_);
    for (uint32_t id = 0; id < rows_.size(); ++id)
        if (rows_[id].live) ids.push_back(id);
    return ids;
}

void Table::Store(uint32_t id, TextView row) {
    if (chunks_.empty() || chunks_.back().size() + row.size() > chunks_.back().capacity()) {
        chunks_.emplace_back();
        chunks_.back().reserve(row.size() > kChunkChars ? row.size() : kChunkChars);
    }
    Text& chunk = chunks_.back();
    if (id >= rows_.size()) rows_.resize(id + 1);
    rows_[id] = Span{static_cast<uint32_t>(chunks_.size() - 1), static_cast<uint32_t>(chunk.size()),
                     static_cast<uint32_t>(row.size()), true};
    chunk.append(row);
    stored_ += row.size();
    ++live_;
}

void Table::Drop(Span& span) {
    span.live = false;
    garbage_ += span.length;
    --live_;
}

void Table::CompactIfWasteful() {
    if (garbage_ < kChunkChars || garbage_ < stored_ / 2) return;
    std::vector<Text> old;
    old.swap(chunks_);
    std::vector<Span> spans;
    spans.swap(rows_);
    live_ = garbage_ = stored_ = 0;
    for (uint32_t id = 0; id < spans.size(); ++id)
        if (spans[id].live) Store(id, TextView(old[spans[id].chunk].data() + spans[id].offset, spans[id].length));
}

uint32_t Table::FindKey(TextView value) const {
    const auto it = keys_.find(Folded(value));
    return it == keys_.end() ? 0 : it->second;
}

Error Table::CheckValue(size_t column, const Value& value) const {
    const Column& c = schema_.columns[column];
    if (!value) return Error();
    if (value->size() > static_cast<size_t>(c.size)) return Fail(kFieldTooSmall);
    if (value->empty() && !c.allowZeroLength) return Fail(kZeroLength, c.name);
    return Error();
}

size_t StoredRowBytes(const std::vector<Value>& values) {
    size_t bytes = 0;
    for (const Value& value : values)
        if (value)
            for (char16_t c : *value) bytes += c <= 0xFF ? 1 : 2;
    return bytes;
}

Error Table::CheckRow(const std::vector<Value>& values, uint32_t self) const {
    for (size_t i = 0; i < values.size(); ++i) {
        if (Error e = CheckValue(i, values[i])) return e;
        if (!values[i] && schema_.columns[i].required) return Fail(kRequired, schema_.columns[i].name);
    }
    if (StoredRowBytes(values) > kMaxRowBytes) return Fail(kRecordTooLarge);
    if (schema_.key < 0) return Error();
    const Value& key = values[schema_.key];
    if (!key) return Fail(kNullKey);
    const uint32_t holder = FindKey(*key);
    if (holder != 0 && holder != self) return Fail(kDuplicateKey);
    return Error();
}

bool Table::Apply(const Op& op) {
    if (op.kind == Op::kCreate) {
        if (created_) return false;
        created_ = true;
        schema_ = op.schema;
        return true;
    }
    if (!created_) return false;
    TextView key;
    switch (op.kind) {
    case Op::kInsert:
    case Op::kUpdate: {
        const std::optional<TextView> old = Row(op.id);
        if ((op.kind == Op::kInsert) != !old) return false;
        if (old) {
            if (schema_.key >= 0 && PackedValue(*old, schema_.key, &key)) keys_.erase(Folded(key));
            Drop(rows_[op.id]);
        }
        Store(op.id, op.row);
        if (schema_.key >= 0 && PackedValue(op.row, schema_.key, &key)) keys_[Folded(key)] = op.id;
        if (op.id >= nextId_) nextId_ = op.id + 1;
        CompactIfWasteful();
        return true;
    }
    case Op::kDelete: {
        const std::optional<TextView> old = Row(op.id);
        if (!old) return false;
        if (schema_.key >= 0 && PackedValue(*old, schema_.key, &key)) keys_.erase(Folded(key));
        Drop(rows_[op.id]);
        CompactIfWasteful();
        return true;
    }
    case Op::kClear:
        for (Span& span : rows_) span.live = false;
        chunks_.clear();
        keys_.clear();
        live_ = garbage_ = stored_ = 0;
        return true;
    default:
        return false;
    }
}

std::vector<Op> Table::Snapshot() const {
    std::vector<Op> ops;
    if (!created_) return ops;
    Op create;
    create.kind = Op::kCreate;
    create.schema = schema_;
    ops.push_back(create);
    for (uint32_t id : Ids()) {
        Op insert;
        insert.id = id;
        insert.row = Text(*Row(id));
        ops.push_back(std::move(insert));
    }
    return ops;
}

namespace {

uint32_t Checksum(const uint8_t* data, size_t size) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
    return h;
}

void Put32(uint32_t v, std::vector<uint8_t>* out) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutText(TextView text, std::vector<uint8_t>* out) {
    Put32(static_cast<uint32_t>(text.size()), out);
    for (char16_t c : text) {
        out->push_back(static_cast<uint8_t>(c));
        out->push_back(static_cast<uint8_t>(c >> 8));
    }
}

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool done() const { return at_ == size_; }
    bool Get8(uint8_t* v) {
        if (at_ + 1 > size_) return false;
        *v = data_[at_++];
        return true;
    }
    bool Get32(uint32_t* v) {
        if (at_ + 4 > size_) return false;
        *v = 0;
        for (int i = 0; i < 4; ++i) *v |= static_cast<uint32_t>(data_[at_++]) << (8 * i);
        return true;
    }
    bool GetText(Text* text) {
        uint32_t n = 0;
        if (!Get32(&n) || n > (size_ - at_) / 2) return false;
        text->resize(n);
        for (uint32_t i = 0; i < n; ++i, at_ += 2) (*text)[i] = static_cast<char16_t>(data_[at_] | data_[at_ + 1] << 8);
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

void PutSchema(const Schema& s, std::vector<uint8_t>* out) {
    PutText(s.table, out);
    Put32(static_cast<uint32_t>(s.key + 1), out);
    Put32(static_cast<uint32_t>(s.columns.size()), out);
    for (const Column& c : s.columns) {
        PutText(c.name, out);
        Put32(static_cast<uint32_t>(c.size), out);
        out->push_back(static_cast<uint8_t>((c.required ? 1 : 0) | (c.allowZeroLength ? 2 : 0)));
    }
    PutText(s.keyName, out);
}

bool GetSchema(Reader* r, Schema* s) {
    uint32_t key = 0, count = 0;
    if (!r->GetText(&s->table) || !r->Get32(&key) || !r->Get32(&count)) return false;
    s->key = static_cast<int>(key) - 1;
    for (uint32_t i = 0; i < count; ++i) {
        Column c;
        uint32_t size = 0;
        uint8_t flags = 0;
        if (!r->GetText(&c.name) || !r->Get32(&size) || !r->Get8(&flags)) return false;
        c.size = static_cast<int>(size);
        c.required = flags & 1;
        c.allowZeroLength = flags & 2;
        s->columns.push_back(c);
    }
    return r->GetText(&s->keyName) && s->key < static_cast<int>(count);
}

bool GetOp(Reader* r, Op* op) {
    uint8_t kind = 0;
    if (!r->Get8(&kind) || !r->Get32(&op->id)) return false;
    op->kind = static_cast<Op::Kind>(kind);
    switch (op->kind) {
    case Op::kCreate:
        return GetSchema(r, &op->schema);
    case Op::kInsert:
    case Op::kUpdate:
        return r->GetText(&op->row);
    case Op::kDelete:
    case Op::kClear:
        return true;
    }
    return false;
}

}  // namespace

void AppendFrame(const std::vector<Op>& ops, std::vector<uint8_t>* out) {
    std::vector<uint8_t> payload;
    for (const Op& op : ops) {
        payload.push_back(op.kind);
        Put32(op.id, &payload);
        if (op.kind == Op::kCreate) PutSchema(op.schema, &payload);
        if (op.kind == Op::kInsert || op.kind == Op::kUpdate) PutText(op.row, &payload);
    }
    Put32(static_cast<uint32_t>(payload.size()), out);
    Put32(Checksum(payload.data(), payload.size()), out);
    out->insert(out->end(), payload.begin(), payload.end());
}

size_t ReadFrames(const uint8_t* data, size_t size, std::vector<Op>* ops) {
    size_t used = 0;
    while (size - used >= 8) {
        Reader header(data + used, 8);
        uint32_t length = 0, sum = 0;
        header.Get32(&length);
        header.Get32(&sum);
        if (length > size - used - 8) break;
        const uint8_t* payload = data + used + 8;
        if (Checksum(payload, length) != sum) break;
        Reader r(payload, length);
        std::vector<Op> frame;
        while (!r.done()) {
            Op op;
            if (!GetOp(&r, &op)) return used;
            frame.push_back(std::move(op));
        }
        for (Op& op : frame) ops->push_back(std::move(op));
        used += 8 + length;
    }
    return used;
}

}  // namespace daosim
