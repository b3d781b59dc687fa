// The robot's camera and the position producer behind it: a level pinhole camera at the robot's
// front, 640 x 480, whose pictures become b.txt and t.txt after the camera's latency, written as
// a careful producer writes them (a new file renamed over the old). The producer finds what is in
// the picture, with the errors the scenario sets.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "robot/detection_errors.h"
#include "robot/scenario.h"
#include "robot/world.h"

namespace robot {

inline constexpr double pictureWidth = 640;
inline constexpr double pictureHeight = 480;

// Where a point of the field lands in the picture; `inFront` false when it is behind the lens.
struct Seen {
  bool inFront = false;
  double u = 0, v = 0;
};

class Camera {
 public:
  Camera(const CameraSettings& c, double aheadOfCentreM);
  double focal() const { return focal_; }
  Seen look(const Pose& robot, double x, double y, double z) const;

 private:
  double focal_;
  double heightM_;
  double aheadM_;
};

using Nanos = std::int64_t;  // simulated time

class Producer {
 public:
  // Writes into `dir` (the program's working folder).
  Producer(const Scenario& s, std::string dir);

  Nanos nextTake() const;
  Nanos nextWrite() const;  // a far future while no picture waits
  // Takes the next picture of the world as it is now; it is written after the latency.
  void take(const World& w);
  // Writes every picture whose time has come by `now`; false, with the reason, on a write error.
  bool write(Nanos now, std::string& why);

  double u() const { return u_; }  // as last written; NaN before any
  double goalColumn() const { return goalColumn_; }

 private:
  struct Picture {
    Nanos writeAt;
    bool ballSeen;
    double u, v;
    bool goalSeen;
    double points[8];  // left post top, left bottom, right top, right bottom: (u, v) each
  };
  bool replace(const char* name, const std::string& text, std::string& why) const;
  void findBall(const World& w, Picture& p);
  void findGoal(const World& w, Picture& p);
  // b.txt from a picture: the ball where it was seen, or as camera.out_of_view says.
  bool writeBall(const Picture& p, std::string& why);

  Scenario scenario_;
  Camera camera_;
  DetectionErrors errors_;
  std::string dir_;
  std::int64_t taken_ = 0;
  std::deque<Picture> waiting_;
  double u_;
  double goalColumn_;
  std::optional<bool> lastSeenRight_;  // the side of the picture the ball was last seen on
};

}  // namespace robot
