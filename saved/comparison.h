// What grew since an earlier scan: -compare=FILE reads a JSON report that
// this program wrote earlier and gives every shown folder of the new scan a
// growth figure, its total now minus its total then.
//
// Folders are matched by their chain of names below the start folder, as the
// file system compares names (without regard to case on Windows, byte for
// byte on Linux). A folder that the earlier parent did not list, although
// nothing was folded into that parent, is new; one whose earlier parent was
// folded has no earlier figure of its own, so its growth is unknown. Earlier
// folders that a parent listed then and does not list now (unless something
// is folded into it now, which may hide them) are gone, and are counted with
// their bytes for the footer line.
//
// Order of use in a run: LoadComparison before the scan (it refuses a file
// that does not compare), CompareWithTree after it, then OrderByGrowth under
// -sort=growth; the renderers read GrowthOf while they walk (report/growth.h).
#pragma once

#include <string>

// Reads the earlier report `file` for a scan of `expandedPath` with this
// run's settings. False with the message line in `refusal` when the file
// cannot be read, is not a report of this program, is cut short, is of
// another start path, or was counted with other settings.
bool LoadComparison(const std::string& file, const std::string& expandedPath, std::string& refusal);

// Gives each folder of the scanned tree its growth and counts the gone
// folders; the earlier folders are released afterwards.
void CompareWithTree();
