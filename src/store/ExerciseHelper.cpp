#include "store/ExerciseHelper.h"

#include "base/Log.h"
#include "store/RecordTable.h"

namespace kv {

std::optional<Exercise> ExerciseHelper::getExcerciseByID(std::string_view id) {
    return RecordTable<Exercise>::first(Database::shared(), Condition().id("Id", id));
}

bool ExerciseHelper::insertExercise(Exercise& exercise) {
    const bool saved = RecordTable<Exercise>::commit(Database::shared(), exercise);
    if (!saved) logText(kLogError, "insert exercise fail");
    return saved;
}

bool ExerciseHelper::updateExercise(Exercise& exercise) {
    const bool saved = RecordTable<Exercise>::commit(Database::shared(), exercise);
    logText(saved ? kLogInfo : kLogDebug, saved ? "update exercise success" : "update exercise fail");
    return saved;
}

}  // namespace kv
