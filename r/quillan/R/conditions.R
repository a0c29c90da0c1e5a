# The library's errors as R conditions.  Every one is of class
# "quillan_error" (and "error"); a refusal of the design or of a parameter is
# "quillan_refused" as well, a wrong request "quillan_usage", a run stopped
# by an interrupt "quillan_cancelled".  The message is the library's own.

quillan_condition <- function(kind, message, call = NULL) {
  class <- switch(kind, refused = "quillan_refused", usage = "quillan_usage", cancelled = "quillan_cancelled",
                  "quillan_failed")
  structure(class = c(class, "quillan_error", "error", "condition"),
            list(message = message, call = call, kind = kind))
}

# What the glue hands back, or the condition it names raised.
checked <- function(value, call = sys.call(-1)) {
  if (is.list(value) && !is.null(value$quillan_error)) {
    stop(quillan_condition(value$quillan_error, value$message, call))
  }
  value
}
