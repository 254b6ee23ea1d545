#pragma once

namespace kv {

// One stored field of a record: its column name and the member that holds it.
template <class Record, class Member>
struct RecordColumn {
    const char* name;
    Member Record::*member;
};

template <class Record, class Member>
constexpr RecordColumn<Record, Member> column(const char* name, Member Record::*member) {
    return {name, member};
}

}  // namespace kv
