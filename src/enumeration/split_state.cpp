// The state a slice of the largest size starts from: every entry of the
// smaller sizes as its operator and operands, and the operand lists. Probe
// values and rows are recomputed from the data, so the state stays compact.
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "core/column_ops.hpp"
#include "enumeration/enumerator.hpp"

namespace vok::enumeration {
namespace {

constexpr std::uint32_t kStateMagic = 0x564f4b45;  // "VOKE"
constexpr std::uint32_t kStateVersion = 1;

class Writer {
public:
    template <class T>
    void put(T value) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
        bytes.insert(bytes.end(), p, p + sizeof(T));
    }
    std::vector<std::uint8_t> bytes;
};

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    template <class T>
    T get() {
        if (bytes_.size() - at_ < sizeof(T))
            throw std::invalid_argument("enumeration state is truncated");
        T value;
        std::memcpy(&value, bytes_.data() + at_, sizeof(T));
        at_ += sizeof(T);
        return value;
    }
    [[nodiscard]] bool done() const noexcept { return at_ == bytes_.size(); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

void corrupt_if(bool bad) {
    if (bad) throw std::invalid_argument("enumeration state is corrupt");
}

// FNV-1a over 64-bit words.
struct Hasher {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    void add(std::uint64_t w) {
        for (int i = 0; i < 8; ++i) {
            h ^= (w >> (8 * i)) & 0xff;
            h *= 0x100000001b3ULL;
        }
    }
    void add(double v) { add(std::bit_cast<std::uint64_t>(v)); }
};

std::uint64_t checksum(std::span<const std::uint8_t> bytes) {
    Hasher h;
    for (std::uint8_t b : bytes) h.add(std::uint64_t{b});
    return h.h;
}

}  // namespace

std::uint64_t Enumerator::data_hash() const {
    Hasher h;
    h.add(std::uint64_t{rows_});
    h.add(std::uint64_t{x_cols_.size()});
    for (const Column& col : x_cols_) {
        for (std::size_t i = 0; i < rows_; ++i) h.add(col[i]);
    }
    for (double v : y_) h.add(v);
    h.add(std::uint64_t{settings_.max_size});
    for (OpCode op : settings_.unary) h.add(std::uint64_t{static_cast<std::uint8_t>(op)});
    h.add(std::uint64_t{99});
    for (OpCode op : settings_.binary) h.add(std::uint64_t{static_cast<std::uint8_t>(op)});
    h.add(std::uint64_t{99});
    for (double c : settings_.constants) h.add(c);
    h.add(std::uint64_t{settings_.scaling});
    h.add(std::uint64_t{settings_.front_size});
    h.add(std::uint64_t{settings_.beam_width});
    h.add(std::uint64_t{settings_.dedup_drop_bits});
    // Only with weights, so that a state without them keeps its hash.
    if (target_.weighted()) {
        h.add(std::uint64_t{0x77});
        for (double w : target_.w) h.add(w);
    }
    return h.h;
}

std::vector<std::uint8_t> Enumerator::save_state() const {
    Writer w;
    w.put(kStateMagic);
    w.put(kStateVersion);
    w.put(data_hash());
    w.put(static_cast<std::uint8_t>(beam_));
    w.put(static_cast<std::uint32_t>(table_.size()));
    for (std::uint32_t id = 0; id < table_.size(); ++id) {
        const Node& n = table_.node(id);
        w.put(static_cast<std::uint8_t>(n.kind));
        w.put(static_cast<std::uint8_t>(n.op));
        w.put(n.left);
        w.put(n.right);
        w.put(table_.expr_size(id));
        w.put(table_.order(id));
    }
    w.put(static_cast<std::uint32_t>(operands_.size()));
    for (const auto& ids : operands_) {
        w.put(static_cast<std::uint32_t>(ids.size()));
        for (std::uint32_t id : ids) w.put(id);
    }
    w.put(checksum(w.bytes));
    return std::move(w.bytes);
}

// One function on purpose: the state is read in the order it was written, and each entry's
// probe values are rebuilt from the entries before it, so every check sits where its field is.
void Enumerator::load_state(std::span<const std::uint8_t> whole) {
    // A damaged state is refused before anything is built from it.
    if (whole.size() < sizeof(std::uint64_t))
        throw std::invalid_argument("enumeration state is truncated");
    const auto state = whole.first(whole.size() - sizeof(std::uint64_t));
    std::uint64_t stored;
    std::memcpy(&stored, whole.data() + state.size(), sizeof stored);
    corrupt_if(stored != checksum(state));
    Reader r(state);
    corrupt_if(r.get<std::uint32_t>() != kStateMagic);
    if (r.get<std::uint32_t>() != kStateVersion)
        throw std::invalid_argument("enumeration state of another version");
    if (r.get<std::uint64_t>() != data_hash())
        throw std::invalid_argument("enumeration state was made with other data or settings");
    beam_ = r.get<std::uint8_t>() != 0;
    const auto n_entries = r.get<std::uint32_t>();
    corrupt_if(n_entries > state.size());
    table_.reserve(n_entries);
    seen_.reserve(n_entries, TableUse::Final);
    entry_rank_.assign(n_entries, 0.0);
    const std::uint32_t max_size = settings_.max_size;
    RowBuffers buffers(rows_);
    ProbeArray values{};
    std::uint32_t last_size = 1;
    for (std::uint32_t id = 0; id < n_entries; ++id) {
        Node n{};
        n.kind = static_cast<NodeKind>(r.get<std::uint8_t>());
        n.op = static_cast<OpCode>(r.get<std::uint8_t>());
        n.left = r.get<std::uint32_t>();
        n.right = r.get<std::uint32_t>();
        const auto size = r.get<std::uint32_t>();
        const auto order = r.get<std::uint64_t>();
        corrupt_if(size < last_size || size >= max_size);
        last_size = size;
        switch (n.kind) {
            case NodeKind::Const:
                corrupt_if(n.left >= settings_.constants.size() || size != 1);
                values.fill(settings_.constants[n.left]);
                break;
            case NodeKind::Var:
                corrupt_if(n.left >= x_cols_.size() || size != 1);
                values = var_probes_[n.left];
                break;
            case NodeKind::Op: {
                const bool binary = static_cast<int>(n.op) < kOpCodeCount && arity(n.op) == 2;
                corrupt_if(static_cast<int>(n.op) >= kOpCodeCount || n.left >= id ||
                           (binary && n.right >= id));
                const bool ok =
                    binary ? apply_binary_rows(n.op, table_.probes(n.left), table_.probes(n.right),
                                               values.data(), kProbePoints)
                           : apply_unary_rows(n.op, table_.probes(n.left), values.data(),
                                              kProbePoints);
                corrupt_if(!ok);
                break;
            }
            default: corrupt_if(true);
        }
        corrupt_if(!seen_.insert(probe_key(values.data(), drop_bits_)));
        table_.add(n, values.data(), size, order);
        if (n.kind == NodeKind::Op && size + 2 <= max_size) {
            if (double* place = table_.take_place(id)) {
                if (!table_.compute_into(id, place, buffers)) entry_rank_[id] = std::nan("");
            }
        }
    }
    const auto n_lists = r.get<std::uint32_t>();
    corrupt_if(n_lists != max_size);
    operands_.assign(n_lists, {});
    for (auto& ids : operands_) {
        const auto count = r.get<std::uint32_t>();
        corrupt_if(count > n_entries);
        ids.resize(count);
        for (auto& id : ids) {
            id = r.get<std::uint32_t>();
            corrupt_if(id >= n_entries || !(entry_rank_[id] == 0.0));
        }
    }
    corrupt_if(!r.done());
}

}  // namespace vok::enumeration
