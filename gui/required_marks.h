#pragma once
// Required-marks: a red one-pixel ring around a control that must be filled. The ring is a widget
// one pixel larger than the control on every side, on the same parent and beneath it, so only its
// edge shows; it is named after the control with "Require" appended, which is how it is found
// again. A control has at most one.
#include <QWidget>
#include <initializer_list>

namespace linograf {

class TRequiredMarks {
  public:
    // reset: the counter starts again at 0. Then for each control: marked places its mark (making
    // it if needed) and counts it; not marked removes an existing mark.
    void MarkRequired(std::initializer_list<QWidget*> controls, bool marked, bool reset = false);
    // Marks placed by the current check.
    int Counter() const { return counter_; }

    // The control's mark, or null.
    static QWidget* FindMark(const QWidget* control);

  private:
    int counter_ = 0;
};

}  // namespace linograf
