// Counts, per destination field, the values that a destination stored otherwise than it
// was given them: text cut to the field's width, a number rounded to its decimals, a
// date losing its time of day, characters the code page cannot hold replaced. The
// writers that do such things lie several layers below the adaptor (a table file's
// writer behind the dataset and its SQL), so a run makes its count current for the
// thread it runs on and the writers add to whatever count is current.
//
//   ValueChanges changes;
//   {
//     ValueChanges::Scope scope(changes);
//     job.Execute();           // a dBase writer calls CountValueChanged("NAME")
//   }
//   changes.Count("NAME");     // values of NAME stored changed
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace trundle {

class ValueChanges {
 public:
  // Makes `changes` the thread's current count while it lives; the one current before
  // comes back after it. `changes` must outlive the scope.
  class Scope {
   public:
    explicit Scope(ValueChanges& changes);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    ValueChanges* previous_;
  };

  void Add(const std::string& field, int64_t n = 1) { counts_[field] += n; }
  // Values of the field stored changed; 0 for a field never named.
  int64_t Count(const std::string& field) const;
  void Clear() { counts_.clear(); }

 private:
  std::map<std::string, int64_t> counts_;
};

// Adds to the thread's current count, if there is one; nothing otherwise (a writer used
// outside a run, a test).
void CountValueChanged(const std::string& field, int64_t n = 1);

}  // namespace trundle
