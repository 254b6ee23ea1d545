#pragma once

#include "store/Database.h"
#include "store/Exercise.h"

#include <optional>
#include <string_view>

namespace kv {

class ExerciseHelper {
public:
    explicit ExerciseHelper(Database& database) : database_(database) {}

    std::optional<Exercise> getExcerciseByID(std::string_view id) const;
    bool insertExercise(Exercise& exercise) const;
    bool updateExercise(Exercise& exercise) const;

private:
    Database& database_;
};

}  // namespace kv
