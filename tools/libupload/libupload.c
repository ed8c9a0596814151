/* Stand-in for the agent library. It only has to be loaded: the plug-in looks for the agent's
   Conf/agent.xml in the directory this file was loaded from. */
int LibUploadStandIn(void) {
    return 1;
}
