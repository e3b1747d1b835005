// The identifiers of the Win32 windows' controls, for GetDlgItem: the
// windows use them, and tests find the controls by them.
#pragma once

namespace qn::winid {

// The main window.
constexpr int pgcMain = 100;
constexpr int lvwBase = 101;
constexpr int infProgress = 102;
constexpr int btnEdit = 103;
constexpr int btnBackup = 104;
constexpr int btnRestore = 105;
constexpr int btnCreate = 106;
constexpr int btnRemove = 107;
constexpr int memLog = 108;
constexpr int btnExit = 109;
constexpr int btnTest = 110;
constexpr int Button5 = 111;
// The tray menu.
constexpr int mniOpen = 120;
constexpr int mniExit = 121;

// The properties dialog ("ОК" and "Отмена" are IDOK and IDCANCEL).
constexpr int pgcData = 200;
constexpr int edtConnAddr = 201;
constexpr int edtPath = 202;
constexpr int btnPath = 203;
constexpr int edtCaption = 204;
constexpr int chkAutoBackup = 210;
constexpr int edtBackupPath = 211;
constexpr int btnBackupPath = 212;
constexpr int chkDay0 = 213;  // ... chkDay0 + 6
constexpr int edtBackupTime = 220;
constexpr int edtBackupNum = 221;
constexpr int spnNum = 222;
constexpr int edtBackupInterval = 223;
constexpr int spnInterval = 224;
constexpr int edtBackupRest = 225;
constexpr int spnRest = 226;
constexpr int chkPrune = 227;
constexpr int chkVerify = 228;
constexpr int edtUser = 230;
constexpr int edtPwd = 231;
constexpr int chkSendPwd = 232;
constexpr int btnFBDefault = 233;
constexpr int edtName = 234;
constexpr int chkCreate = 240;
constexpr int edtKeepDaily = 250;  // each with its up-down control at + 1
constexpr int edtKeepWeekly = 252;
constexpr int edtKeepMonthly = 254;
constexpr int edtKeepRequested = 256;
constexpr int lvwCopies = 260;          // a checkbox row per destination
constexpr int lblNoDestinations = 261;  // instead of the list when there is none
// The list of the pick dialog.
constexpr int lstPick = 300;
// Labels carry no identifier of their own.
constexpr int label = -1;

// The login dialog shares edtUser and edtPwd.

}  // namespace qn::winid
