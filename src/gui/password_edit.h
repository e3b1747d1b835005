// Password fields that show "*" for each character, whatever character the
// platform style would use.
#pragma once

class QLineEdit;

namespace qn {

// Switches the field to password echo with "*"; the style that draws the
// stars belongs to the field.
void MakePasswordEdit(QLineEdit* edit);

}  // namespace qn
