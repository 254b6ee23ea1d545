#pragma once

#include "store/Exercise.h"

#include <optional>
#include <string_view>

namespace kv {

class ExerciseHelper {
public:
    static std::optional<Exercise> getExcerciseByID(std::string_view id);
    static bool insertExercise(Exercise& exercise);
    static bool updateExercise(Exercise& exercise);
};

}  // namespace kv
