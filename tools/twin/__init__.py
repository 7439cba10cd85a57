"""PyTorch twin of the built-in portrait network (training and parity checks)."""
