// What a step that can fail gives back: that it worked, or the errno of its failure.
#pragma once

struct [[nodiscard]] Status {
  int err = 0;  // 0, or the errno of the failure

  constexpr Status() = default;
  // An errno (0 for success) is a status; nothing converts back: callers ask ok() or err.
  constexpr Status(int error) : err(error) {}  // NOLINT(google-explicit-constructor)
  // A bool says no errno: `return false;` must not pass for success.
  Status(bool) = delete;

  constexpr bool ok() const { return err == 0; }
  // The same errno (tests compare a status with one: EXPECT_EQ(doc.SetLine(0, "x"), 0)).
  friend constexpr bool operator==(Status, Status) = default;
};
