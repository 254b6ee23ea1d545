#include "store/ExerciseHelper.h"

#include "base/Log.h"
#include "store/RecordTable.h"

namespace kv {

std::optional<Exercise> ExerciseHelper::getExcerciseByID(std::string_view id) const {
    return RecordTable<Exercise>::first(database_, Condition().id("Id", id));
}

bool ExerciseHelper::insertExercise(Exercise& exercise) const {
    const bool saved = RecordTable<Exercise>::commit(database_, exercise);
    if (!saved) logText(kLogError, "insert exercise fail");
    return saved;
}

bool ExerciseHelper::updateExercise(Exercise& exercise) const {
    const bool saved = RecordTable<Exercise>::commit(database_, exercise);
    logText(saved ? kLogInfo : kLogDebug, saved ? "update exercise success" : "update exercise fail");
    return saved;
}

}  // namespace kv
