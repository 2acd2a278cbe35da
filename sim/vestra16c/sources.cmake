# The VESTRA16C monitor is the VESTRA16 model with its own dialect (header only).
