// The precompiled standard headers need a unit of their own to be built with.
