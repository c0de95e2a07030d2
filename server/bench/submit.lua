-- wrk: POST /api/games, each request a demo of its own (the same bytes twice would be answered
-- from the database without a replay). STAGES is the stage set's SHA-256.
local stages = os.getenv("STAGES")
local threads = 0

function setup(thread)
  threads = threads + 1
  thread:set("tid", threads)
end

local n = 0
function request()
  n = n + 1
  local demo = "# tarmik-demo 2 tarmik 1.0.0\\nstages " .. stages .. "\\ngame first\\n" ..
    "motion " .. tid .. " " .. n .. "\\ntick 3\\nclick left down 250 250\\n" ..
    "click left up 250 250\\ntick\\nexpect registered=1 result.score=100\\n"
  return wrk.format("POST", "/api/games", {["Content-Type"] = "application/json"},
    '{"player":"bench","demo":"' .. demo .. '"}')
end

local statuses = {}
function response(status)
  statuses[status] = (statuses[status] or 0) + 1
end

function done(summary)
  io.write(string.format("%d requests, %d non-2xx or socket errors\n", summary.requests,
    summary.errors.status + summary.errors.connect + summary.errors.read + summary.errors.write +
    summary.errors.timeout))
end
