// Arrives with its unit.
