#pragma once

class TAxisDlg;

// An axis range typed in this showing whose minimum is not below its maximum leaves nothing to draw, and
// zooming to fit does not bring the curve back. OK refuses it: the message is shown beside the buttons and at
// the Min field, which takes the focus. True when every typed range is in order.
bool accept_axis_ranges(TAxisDlg &dialog);
