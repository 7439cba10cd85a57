"""Training of the portrait network's weights."""
