// Controller discovery: find the configured PCI device, switch its SMBus host
// on the way the Chipset code requires, and fill SmbBase (and the Chipset 6
// and 10 extras) in the ControllerState.
#pragma once

// Reads VID, DID, Func and Chipset from the ControllerState. False when the
// device is not on buses 0..6, the Chipset has no discovery steps, or the
// host's base register reads 0 (never programmed); nothing is touched at a
// port base then, and SmbBase stays 0.
bool DiscoverController();
