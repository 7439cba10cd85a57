// Empty translation unit: the room checks link whole room libraries around it.
