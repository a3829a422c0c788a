#pragma once

class QComboBox;
class QLineEdit;

namespace platform {

// A folder too long for its field is cut off where the field ends: the field's tooltip then
// shows it whole. For a drop-down list, the same for each entry of its open list that is too
// wide for it. A text that fits gets no tooltip. Kept up to date as the text or the width
// changes. For fields that have no tooltip of their own.
void showWholeTextWhenCut(QLineEdit *edit);
void showWholeTextWhenCut(QComboBox *box);

} // namespace platform
